#!/usr/bin/env bash
# End-to-end comparison of the bmpcontrast tool with cp, Pillow and
# ImageMagick on the same files, interleaved round by round in one run.
#
#   bench/compare.sh [BUILD_DIR]        (default: build)
#
# Environment: ROUNDS (default 7), BATCH_ROUNDS (5), LEVEL (150),
# SIZES ("100 24": megapixels of the single-file runs), BATCH_FILES (200),
# TMPDIR (where the files go; about 2.5 GB are needed).
#
# Single files: 24-bit, 10000x10000 (100 MP) and 6000x4000 (24 MP), each
# command writing a fresh output. Batch: BATCH_FILES 24-bit files of 1 MP,
# the tool with --jobs 2 against cp of the same files into a fresh folder,
# mogrify and a Pillow loop in one process. The tool's outputs are checked
# byte for byte before anything is timed. Prints per-command medians (wall
# time and peak resident memory), ratios, and the targets met or not.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
rounds=${ROUNDS:-7}
batch_rounds=${BATCH_ROUNDS:-5}
level=${LEVEL:-150}
sizes=${SIZES:-100 24}
batch_files=${BATCH_FILES:-200}

tool=$build/tools/bmpcontrast
gen=$build/bench/bmpcontrast_bench_bmp
py=/usr/bin/python3
helper=$here/compare.py
for needed in "$tool" "$gen" /usr/bin/time /usr/bin/convert /usr/bin/mogrify "$py"; do
  [ -x "$needed" ] || { echo "compare.sh: missing $needed" >&2; exit 2; }
done
"$py" -c 'import PIL' 2>/dev/null || { echo "compare.sh: $py lacks PIL (python3-pil)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/bmpcontrast-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
avail_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$avail_kb" -lt 3000000 ]; then
  echo "compare.sh: need about 3 GB free under $work" >&2
  exit 2
fi

# ImageMagick works on values scaled to 0..1: f * (u - m) + m = f*u + m*(1 - f)
# with m = 128/255. It rounds where the tool truncates, so it is close, not
# exact; it is timed as a peer doing the same job.
magick_poly=$(awk -v l="$level" 'BEGIN { f = l / 100; printf "%.9g,%.9g", f, 128 / 255 * (1 - f) }')

echo "bmpcontrast compare: level $level, $rounds rounds (batch: $batch_rounds), $(nproc) CPUs"
echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"

# Runs one command and appends "seconds peak_kb" to $work/times.NAME.
timed() {
  local name=$1
  shift
  local t0 t1
  t0=$EPOCHREALTIME
  if ! /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr"; then
    echo "compare.sh: $name failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  echo "$t0 $t1 $(tail -n 1 "$work/rss")" |
    awk '{ printf "%.6f %d\n", $2 - $1, $3 }' >>"$work/times.$name"
}

# Median seconds and median peak memory (MB) of a command's runs.
median_of() {
  sort -n "$work/times.$1" | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
median_mb() {
  awk '{ print $2 }' "$work/times.$1" | sort -n |
    awk '{ m[NR] = $1 } END { printf "%.0f", m[int((NR + 1) / 2)] / 1024 }'
}

# Prints one table row per command, then the ratios to the tool's median.
report() {
  local title=$1
  shift
  local name tool_median
  echo
  echo "$title"
  printf '  %-10s %10s %10s %10s %9s\n' command median_s min_s max_s peak_MB
  for name in "$@"; do
    printf '  %-10s %10.3f %10.3f %10.3f %9s\n' "$name" "$(median_of "$name")" \
      "$(sort -n "$work/times.$name" | head -n 1 | cut -d' ' -f1)" \
      "$(sort -n "$work/times.$name" | tail -n 1 | cut -d' ' -f1)" "$(median_mb "$name")"
  done
  tool_median=$(median_of "$1")
  for name in "${@:2}"; do
    awk -v a="$tool_median" -v b="$(median_of "$name")" -v t="$1" -v n="$name" \
      'BEGIN { printf "  %s / %s = %.3f   (%s %.1fx %s)\n", t, n, a / b, t, (a < b) ? b / a : a / b, (a < b) ? "faster" : "slower" }'
  done
}

# Checks the median peak memory of a command against a multiple of a file's
# size: "label name file_bytes max".
memory_verdict() {
  awk -v l="$1" -v kb="$(median_mb "$2")" -v f="$3" -v m="$4" \
    'BEGIN { r = kb * 1048576 / f; printf "  target %-26s %.3f (at most %s): %s\n", l, r, m, (r <= m) ? "met" : "NOT met" }'
}

# Checks a ratio of medians against a target: "label num den max".
verdict() {
  awk -v l="$1" -v a="$(median_of "$2")" -v b="$(median_of "$3")" -v m="$4" \
    'BEGIN { r = a / b; printf "  target %-26s %.3f (at most %s): %s\n", l, r, m, (r <= m) ? "met" : "NOT met" }'
}

for mp in $sizes; do
  case $mp in
    100) width=10000 height=10000 ;;
    24) width=6000 height=4000 ;;
    1) width=1000 height=1000 ;;
    *) echo "compare.sh: size $mp MP not known (100, 24 or 1)" >&2; exit 2 ;;
  esac
  in=$work/in$mp.bmp
  out=$work/out.bmp
  "$gen" "$in" "$width" "$height"

  # Exactness first: bytes against an independent table, and pixels against
  # Pillow's own result with the same table.
  "$tool" "$in" "$out" "$level" >/dev/null
  "$py" "$helper" check "$in" "$out" "$level"
  "$py" "$helper" pillow "$in" "$work/pillow.bmp" "$level"
  "$py" "$helper" same-pixels "$out" "$work/pillow.bmp"
  rm -f "$out" "$work/pillow.bmp"
  echo "${mp} MP: tool output checked exactly"

  names=(tool$mp cp$mp pillow$mp magick$mp)
  for ((r = 0; r < rounds; r++)); do
    # Each round starts with a different command, so that none always
    # follows the same one.
    for ((k = 0; k < ${#names[@]}; k++)); do
      name=${names[(k + r) % ${#names[@]}]}
      rm -f "$out"
      case $name in
        tool*) timed "$name" "$tool" "$in" "$out" "$level" ;;
        cp*) timed "$name" cp "$in" "$out" ;;
        pillow*) timed "$name" "$py" "$helper" pillow "$in" "$out" "$level" ;;
        magick*) timed "$name" /usr/bin/convert "$in" -function Polynomial "$magick_poly" \
          -type TrueColor "$out" ;;
      esac
    done
  done
  in_bytes=$(stat -c %s "$in")
  rm -f "$out" "$in"
  report "${mp} MP, 24-bit ($((width * height * 3 / 1000000)) MB), medians of $rounds rounds:" \
    "${names[@]}"
  verdict "tool/cp (${mp} MP)" "tool$mp" "cp$mp" 2.5
  if [ "$mp" = 100 ]; then
    verdict "tool/Pillow (100 MP)" tool100 pillow100 0.25
    memory_verdict "tool peak/file (100 MP)" tool100 "$in_bytes" 1.25
  fi
done

# Many small files.
if [ "$batch_files" -gt 0 ]; then
  if ! "$tool" --help 2>&1 | grep -q -- '--out-dir'; then
    echo
    echo "batch: skipped, $tool has no --out-dir (batch mode)"
  else
    mkdir -p "$work/batch"
    files=()
    for ((i = 0; i < batch_files; i++)); do
      files+=("$work/batch/img$i.bmp")
      "$gen" "${files[i]}" 1000 1000 "$((i + 1))"
    done
    rm -rf "$work/out" && mkdir "$work/out"
    "$tool" --level "$level" --out-dir "$work/out" --jobs 2 "${files[@]}" >/dev/null \
      2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    "$py" "$helper" check-batch "$level" "$work/out" "${files[@]}"
    echo
    echo "batch: $batch_files tool outputs checked exactly"

    names=(tool_batch cp_batch mogrify pillow_loop)
    for ((r = 0; r < batch_rounds; r++)); do
      for ((k = 0; k < ${#names[@]}; k++)); do
        name=${names[(k + r) % ${#names[@]}]}
        rm -rf "$work/out" && mkdir "$work/out"
        case $name in
          tool_batch) timed "$name" "$tool" --level "$level" --out-dir "$work/out" --jobs 2 \
            "${files[@]}" ;;
          cp_batch) timed "$name" cp "${files[@]}" "$work/out/" ;;
          mogrify) timed "$name" /usr/bin/mogrify -path "$work/out" -function Polynomial \
            "$magick_poly" -type TrueColor "${files[@]}" ;;
          pillow_loop) timed "$name" "$py" "$helper" pillow-batch "$work/out" "$level" \
            "${files[@]}" ;;
        esac
      done
    done
    rm -rf "$work/out" "$work/batch"
    report "batch of $batch_files files of 1 MP (3 MB), medians of $batch_rounds rounds:" \
      "${names[@]}"
    verdict "tool/cp (batch)" tool_batch cp_batch 1.3
    verdict "tool/mogrify (batch)" tool_batch mogrify 0.3333
  fi
fi

echo
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
