#include "peer_tools.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "bmp_builder.h"

namespace bmptest::peers {

namespace fs = std::filesystem;

std::string Shell(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 4096> chunk{};
        size_t got = 0;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            output.append(chunk.data(), got);
        pclose(pipe);
    }
    return output;
}

namespace {

std::string FindPillowPython() {
    for (const char* python : {"python3", "/usr/bin/python3"}) {
        const std::string probe = std::string(python) + " -c 'import PIL' 2>/dev/null && echo yes";
        if (Shell(probe) == "yes\n") return python;
    }
    return "";
}

}  // namespace

const std::string& Python() {
    static const std::string python = FindPillowPython();
    return python;
}

bool Installed(Peer peer) {
    static const std::array<bool, 5> installed = [] {
        return std::array<bool, 5>{
            Shell("convert -version 2>/dev/null").find("ImageMagick") != std::string::npos,
            Shell("gm version 2>/dev/null").find("GraphicsMagick") != std::string::npos,
            Shell("ffmpeg -version 2>/dev/null").find("ffmpeg version") != std::string::npos,
            Shell("ppmtobmp --version 2>&1; bmptopnm --version 2>&1").find("Netpbm") !=
                std::string::npos,
            !Python().empty(),
        };
    }();
    return peer == kNoPeer || installed[peer];
}

bool PeersRequired() {
    return std::getenv("BMPCONTRAST_REQUIRE_PEERS") != nullptr ||
           std::getenv("BMPCONTRAST_REQUIRE_IMAGEMAGICK") != nullptr;
}

std::string IccProfile() {
    for (const char* path :
         {"/usr/share/color/icc/sRGB.icc", "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc",
          "/usr/share/color/icc/ghostscript/a98.icc"}) {
        if (fs::exists(path)) return path;
    }
    return "";
}

// ---------------------------------------------------------------- sources

void WriteNetpbm(const fs::path& path, const char* magic, int width, int height, int channels,
                 std::mt19937& random, int colours) {
    std::string header = std::string(magic) + "\n" + std::to_string(width) + " " +
                         std::to_string(height) + "\n255\n";
    if (channels == 4) {
        header = "P7\nWIDTH " + std::to_string(width) + "\nHEIGHT " + std::to_string(height) +
                 "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    }
    Bytes bytes(header.begin(), header.end());
    // A few colours make the encoders choose a colour table.
    std::vector<std::array<uint8_t, 3>> palette(static_cast<size_t>(colours));
    for (auto& entry : palette)
        for (auto& c : entry) c = static_cast<uint8_t>(random());
    for (int i = 0; i < width * height; ++i) {
        if (colours > 0) {
            const auto& entry = palette[random() % palette.size()];
            bytes.insert(bytes.end(), entry.begin(), entry.end());
        } else {
            for (int c = 0; c < channels; ++c) bytes.push_back(static_cast<uint8_t>(random()));
        }
    }
    bmptest::WriteFile(path.string(), bytes);
}

void WriteSources(const fs::path& dir) {
    std::mt19937 random(9);
    WriteNetpbm(dir / "rgb.ppm", "P6", 13, 7, 3, random);
    WriteNetpbm(dir / "alpha.pam", "", 13, 7, 4, random);
    WriteNetpbm(dir / "few.ppm", "P6", 13, 7, 3, random, 40);
    WriteNetpbm(dir / "grey.pgm", "P5", 13, 7, 1, random);
    for (int width = 1; width <= 7; ++width)
        WriteNetpbm(dir / ("w" + std::to_string(width) + ".ppm"), "P6", width, 3, 3, random);
    WriteNetpbm(dir / "w1x1.ppm", "P6", 1, 1, 3, random);
}

namespace {

std::string Replace(std::string text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), value), at += value.size();
    return text;
}

}  // namespace

void Encode(const fs::path& dir, const std::vector<Command>& commands) {
    std::string script = "cd '" + dir.string() + "' && (";
    for (const Command& c : commands) {
        script += Replace(Replace(c.command, "{src}", c.source), "{out}", c.name + ".bmp") +
                  " 2>/dev/null; ";
    }
    Shell(script + ") >/dev/null 2>&1");
}

// ----------------------------------------------------------------- decoding

Decoded ReadDecoded(const fs::path& path) {
    Decoded d;
    if (!fs::exists(path) || fs::file_size(path) == 0) return d;
    const Bytes bytes = bmptest::ReadFile(path.string());
    if (path.extension() != ".pnm") {
        for (size_t i = 0; i + 3 < bytes.size(); i += 4)
            d.pixels.push_back({bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]});
        d.ok = !d.pixels.empty();
        return d;
    }
    // P5/P6 with maxval 255: magic, width, height, maxval, one whitespace
    // byte; P4 (black and white) has no maxval.
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] < '4' || bytes[1] > '6') return d;
    const bool bits = bytes[1] == '4';
    size_t at = 2;
    uint32_t fields[3] = {};
    for (uint32_t& field : fields) {
        if (bits && &field == &fields[2]) break;
        while (at < bytes.size() && (std::isspace(bytes[at]) != 0 || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            else
                ++at;
        }
        while (at < bytes.size() && std::isdigit(bytes[at]) != 0)
            field = field * 10 + bytes[at++] - '0';
    }
    ++at;
    if (bits) {
        fields[2] = 255;
        // Rows of whole bytes, the first pixel in the top bit; 1 is black.
        const size_t rowBytes = (fields[0] + 7) / 8;
        for (size_t y = 0; y < fields[1] && at + (y + 1) * rowBytes <= bytes.size(); ++y) {
            for (size_t x = 0; x < fields[0]; ++x) {
                const bool black = (bytes[at + y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
                const uint8_t v = black ? 0 : 255;
                d.pixels.push_back({v, v, v, 255});
            }
        }
        d.ok = d.pixels.size() == static_cast<size_t>(fields[0]) * fields[1];
        return d;
    }
    const size_t channels = bytes[1] == '6' ? 3 : 1;
    if (fields[2] != 255) return d;
    for (size_t i = at; i + channels <= bytes.size(); i += channels) {
        const uint8_t r = bytes[i];
        d.pixels.push_back(channels == 3 ? Rgba{r, bytes[i + 1], bytes[i + 2], 255}
                                         : Rgba{r, r, r, 255});
    }
    d.ok = d.pixels.size() == static_cast<size_t>(fields[0]) * fields[1];
    return d;
}

namespace {

// One ffmpeg run for files [from, to). One input it cannot read fails the
// whole run, which may have written some outputs in part: the run's files
// then go again in two halves, so that a few such inputs cost a few runs.
void FfmpegDecode(const std::vector<fs::path>& files, size_t from, size_t to) {
    std::string in, out;
    for (size_t i = from; i < to; ++i) {
        const std::string s = files[i].string();
        in += " -i '" + s + "'";
        out +=
            " -map " + std::to_string(i - from) + " -f rawvideo -pix_fmt rgba '" + s + ".ff.rgba'";
    }
    if (Shell("ffmpeg -v quiet -y" + in + out + " </dev/null >/dev/null 2>&1 && echo ok") ==
        "ok\n") {
        return;
    }
    for (size_t i = from; i < to; ++i) {
        std::error_code ignored;
        fs::remove(files[i].string() + ".ff.rgba", ignored);
    }
    if (to - from < 2) return;
    const size_t middle = from + (to - from) / 2;
    FfmpegDecode(files, from, middle);
    FfmpegDecode(files, middle, to);
}

}  // namespace

void DecodeAll(const fs::path& dir, const std::vector<fs::path>& files) {
    std::string im, gm, pnm, pil;
    for (const fs::path& file : files) {
        const std::string s = file.string();
        im += " '" + s + "'";
        gm += "convert " + s + " -depth 8 rgba:" + s + ".gm.rgba\n";
        pnm += "bmptopnm '" + s + "' >'" + s + ".pnm' 2>/dev/null; ";
        pil += " '" + s + "'";
    }
    if (Installed(kImageMagick)) {
        // mogrify writes NAME.rgba beside NAME.bmp; renamed to the suffix.
        Shell("mogrify -depth 8 -format rgba" + im + " >/dev/null 2>&1");
        for (const fs::path& f : files) {
            fs::path raw = f;
            raw.replace_extension(".rgba");
            std::error_code ignored;
            fs::rename(raw, f.string() + ".im.rgba", ignored);
        }
    }
    if (Installed(kGraphicsMagick)) {
        const fs::path script = dir / "decode.gm";
        bmptest::WriteFile(script.string(), Bytes(gm.begin(), gm.end()));
        Shell("gm batch -stop-on-error off -echo off -feedback off '" + script.string() +
              "' >/dev/null 2>&1");
    }
    if (Installed(kFfmpeg)) FfmpegDecode(files, 0, files.size());
    if (Installed(kNetpbm)) Shell("(" + pnm + ") >/dev/null 2>&1");
    if (Installed(kPillow)) {
        Shell(Python() +
              " -c \"import sys\nfrom PIL import Image\nfor p in sys.argv[1:]:\n"
              "  try: open(p + '.pil.rgba', 'wb').write(Image.open(p).convert('RGBA').tobytes())\n"
              "  except Exception: pass\" " +
              pil + " >/dev/null 2>&1");
    }
}
}  // namespace bmptest::peers
