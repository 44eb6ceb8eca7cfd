"""Helpers for bench/compare.sh: the Pillow commands it times, and an exact
check of the tool's output that shares no code with the library.

Run with Debian's /usr/bin/python3 (python3-pil).
"""
import struct
import sys


def curve(level):
    """The contrast curve as exact integer arithmetic: 256 output bytes."""
    table = []
    for v in range(256):
        if level > 12700:
            # Every byte but 128 saturates at these levels.
            table.append(0 if v < 128 else 255 if v > 128 else 128)
            continue
        n = (v - 128) * level + 12800
        q = n // 100 if n >= 0 else -((-n) // 100)  # truncation toward zero
        table.append(min(255, max(0, q)))
    return bytes(table)


def open_image(src):
    from PIL import Image

    Image.MAX_IMAGE_PIXELS = None  # 100-megapixel files are the point here
    return Image.open(src)


def pillow(src, dst, level):
    image = open_image(src)
    image.point(list(curve(level)) * len(image.getbands())).save(dst)


def pillow_batch(out_dir, level, files):
    import os

    table = list(curve(level))
    for src in files:
        image = open_image(src)
        image.point(table * len(image.getbands())).save(
            os.path.join(out_dir, os.path.basename(src)))


def check(src, dst, level):
    """dst must be src with every pixel byte through the curve: headers
    unchanged, pixel data right after them, rows without pad bytes."""
    data = open(src, "rb").read()
    off, = struct.unpack_from("<I", data, 10)
    width, = struct.unpack_from("<i", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if off != 54 or bits != 24 or (width * 3) % 4 != 0:
        sys.exit(f"check: {src} is not a 24-bit file without pad bytes")
    expected = data[:54] + data[54:].translate(curve(level))
    actual = open(dst, "rb").read()
    if actual != expected:
        at = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b),
                  min(len(actual), len(expected)))
        sys.exit(f"check: {dst} differs from the expected bytes at offset {at} "
                 f"(sizes {len(actual)} and {len(expected)})")


def same_pixels(a, b):
    """Both files decode to the same pixels (Pillow's own output is laid out
    differently, so bytes are not compared)."""
    if open_image(a).convert("RGB").tobytes() != open_image(b).convert("RGB").tobytes():
        sys.exit(f"check: {a} and {b} hold different pixels")


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "pillow":
        pillow(args[0], args[1], int(args[2]))
    elif command == "pillow-batch":
        pillow_batch(args[0], int(args[1]), args[2:])
    elif command == "check":
        check(args[0], args[1], int(args[2]))
    elif command == "check-batch":
        import os

        level, out_dir = int(args[0]), args[1]
        for name in args[2:]:
            check(name, os.path.join(out_dir, os.path.basename(name)), level)
    elif command == "same-pixels":
        same_pixels(args[0], args[1])
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main(sys.argv)
