#!/usr/bin/env bash
# End-to-end comparison of the bmpcontrast tool with cp, the floor
# (bench/floor.cpp: the simplest correct program for the job), Pillow and
# ImageMagick on the same files, interleaved round by round in one run.
#
#   bench/compare.sh [BUILD_DIR]        (default: build)
#
# Environment: ROUNDS (default 7), BATCH_ROUNDS (5), LEVEL (150),
# SIZES ("100 24 1536": megapixels of the single-file runs, 1 for 1 MP,
# 1536 standing for a 1.5 GiB file, or WIDTHxHEIGHT), BATCH_FILES (200),
# SMALL_FILES (10000), TMPDIR (where the single files go; about 5 GB are
# needed), SHM (tmpfs for the batches, default /dev/shm), CSV (a file to
# write the figures to, in the columns of docs/performance.csv).
#
# Single files: 24-bit, 10000x10000 (100 MP), 6000x4000 (24 MP) and
# 23168x23170 (1.5 GiB), each command writing a fresh output (the 1.5 GiB
# file only against cp and the floor). Batch: BATCH_FILES 24-bit files of 1 MP, the tool
# with --jobs 2 against cp of the same files into a fresh folder, mogrify
# and a Pillow loop in one process; then SMALL_FILES files of 822 bytes in
# one folder, the tool with -r --jobs 2 against cp -r. The tool's outputs are
# checked byte for byte before anything is timed, and so is the floor's.
# Prints per-command medians (wall time, peak resident memory, and the load
# each ran under), ratios, the targets met or not, and at the end a table
# of the single files and the figures as CSV rows, for docs/performance.md.
#
# Ratios are medians of the ratios within each round, whose commands ran
# back to back. Next to every figure: the 1-minute load average as each run
# started, and the free cores while it ran, that is the CPUs less what every
# other process used of them (from /proc/stat, less the command's own CPU
# time); both are medians over the command's runs.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
rounds=${ROUNDS:-7}
batch_rounds=${BATCH_ROUNDS:-5}
level=${LEVEL:-150}
sizes=${SIZES:-100 24 1536}
batch_files=${BATCH_FILES:-200}
small_files=${SMALL_FILES:-10000}
shm=${SHM:-/dev/shm}

tool=$build/tools/bmpcontrast
gen=$build/bench/bmpcontrast_bench_bmp
floor=$build/bench/bmpcontrast_floor
py=/usr/bin/python3
helper=$here/compare.py
for needed in "$tool" "$gen" "$floor" /usr/bin/time /usr/bin/convert /usr/bin/mogrify "$py"; do
  [ -x "$needed" ] || { echo "compare.sh: missing $needed" >&2; exit 2; }
done
"$py" -c 'import PIL' 2>/dev/null || { echo "compare.sh: $py lacks PIL (python3-pil)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/bmpcontrast-compare.XXXXXX")
# Batches on tmpfs: the disk's own speed is not what they measure.
bwork=$(mktemp -d "$shm/bmpcontrast-compare.XXXXXX")
trap 'rm -rf "$work" "$bwork"' EXIT
avail_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$avail_kb" -lt 5000000 ]; then
  echo "compare.sh: need about 5 GB free under $work" >&2
  exit 2
fi

# ImageMagick works on values scaled to 0..1: f * (u - m) + m = f*u + m*(1 - f)
# with m = 128/255. It rounds where the tool truncates, so it is close, not
# exact; it is timed as a peer doing the same job.
magick_poly=$(awk -v l="$level" 'BEGIN { f = l / 100; printf "%.9g,%.9g", f, 128 / 255 * (1 - f) }')

cpus=$(nproc)
hz=$(getconf CLK_TCK)
echo "bmpcontrast compare: level $level, $rounds rounds (batch: $batch_rounds), $cpus CPUs"
echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"

# CPU time of all processes, in clock ticks: "busy all" (steal counts as
# busy: those cycles went to someone else).
cpu_ticks() {
  local _cpu user nice system idle iowait irq softirq steal _rest
  read -r _cpu user nice system idle iowait irq softirq steal _rest </proc/stat
  echo "$((user + nice + system + irq + softirq + steal)) $((user + nice + system + idle + iowait + irq + softirq + steal))"
}

# Runs one command and appends "seconds peak_kb load free_cores" to
# $work/times.NAME (see the top for what the last two are).
timed() {
  local name=$1
  shift
  local t0 t1 load _ before after
  read -r load _ </proc/loadavg
  before=$(cpu_ticks)
  t0=$EPOCHREALTIME
  if ! /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" >/dev/null 2>"$work/stderr"; then
    echo "compare.sh: $name failed:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  after=$(cpu_ticks)
  echo "$t0 $t1 $(tail -n 1 "$work/rss") $load $before $after" |
    awk -v cpus="$cpus" -v hz="$hz" '{
      wall = $2 - $1; own = $4 + $5
      busy = ($9 - $7) / hz; span = ($10 - $8) / hz / cpus
      others = span > 0 ? (busy - own) / span : 0
      free = cpus - others; free = free < 0 ? 0 : free > cpus ? cpus : free
      printf "%.6f %d %s %.2f\n", wall, $3, $6, free }' >>"$work/times.$name"
}

# Median of a column of numbers on standard input.
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# Median seconds, peak memory (MB), load and free cores of a command's runs.
median_of() { cut -d' ' -f1 "$work/times.$1" | median; }
median_mb() {
  awk '{ print $2 }' "$work/times.$1" | sort -n |
    awk '{ m[NR] = $1 } END { printf "%.0f", m[int((NR + 1) / 2)] / 1024 }'
}
median_load() { cut -d' ' -f3 "$@" | median; }
median_free() { cut -d' ' -f4 "$@" | median; }
# Median over the rounds of NUM's time over DEN's in the same round.
ratio_of() {
  paste -d' ' "$work/times.$1" "$work/times.$2" | awk '{ print $1 / $5 }' | median
}

# Prints one table row per command, then the ratios to the first one.
report() {
  local title=$1
  shift
  local name
  echo
  echo "$title"
  printf '  %-16s %10s %10s %10s %9s %6s %6s\n' command median_s min_s max_s peak_MB load free
  for name in "$@"; do
    printf '  %-16s %10.3f %10.3f %10.3f %9s %6.2f %6.1f\n' "$name" "$(median_of "$name")" \
      "$(sort -n "$work/times.$name" | head -n 1 | cut -d' ' -f1)" \
      "$(sort -n "$work/times.$name" | tail -n 1 | cut -d' ' -f1)" "$(median_mb "$name")" \
      "$(median_load "$work/times.$name")" "$(median_free "$work/times.$name")"
  done
  for name in "${@:2}"; do
    awk -v r="$(ratio_of "$1" "$name")" -v t="$1" -v n="$name" \
      'BEGIN { printf "  %s / %s = %.3f   (%s %.1fx %s)\n", t, n, r, t, (r < 1) ? 1 / r : r, (r < 1) ? "faster" : "slower" }'
  done
}

# The figures in docs/performance.csv's columns, one row per command:
# "workload name label...", labels matching the names.
csv_rows() {
  local workload=$1 n=$2 k
  shift 2
  local names=("${@:1:n}") labels=("${@:n+1}")
  for ((k = 0; k < n; k++)); do
    printf '%s,%s,%.3f,%s,%.2f,%.1f\n' "$workload" "${labels[k]}" "$(median_of "${names[k]}")" \
      "$(median_mb "${names[k]}")" "$(median_load "$work/times.${names[k]}")" \
      "$(median_free "$work/times.${names[k]}")" >>"$work/figures.csv"
  done
}
echo "workload,command,seconds,peak_mb,load,free_cores" >"$work/figures.csv"
: >"$work/summary.md"

# Checks the median peak memory of a command against a multiple of a file's
# size: "label name file_bytes max".
memory_verdict() {
  awk -v l="$1" -v kb="$(median_mb "$2")" -v f="$3" -v m="$4" \
    'BEGIN { r = kb * 1048576 / f; printf "  target %-26s %.3f (at most %s): %s\n", l, r, m, (r <= m) ? "met" : "NOT met" }'
}

# Checks the median peak memory of a command against a number of MiB:
# "label name max_mib".
memory_cap() {
  awk -v l="$1" -v kb="$(awk '{ print $2 }' "$work/times.$2" | sort -n |
    awk '{ m[NR] = $1 } END { print m[int((NR + 1) / 2)] }')" -v m="$3" \
    'BEGIN { r = kb / 1024; printf "  target %-26s %.1f MiB (at most %s): %s\n", l, r, m, (r <= m) ? "met" : "NOT met" }'
}

# Checks a median of same-round ratios against a target: "label num den max".
verdict() {
  awk -v l="$1" -v r="$(ratio_of "$2" "$3")" -v m="$4" -v load="$(median_load "$work/times.$2")" \
    -v free="$(median_free "$work/times.$2")" \
    'BEGIN { printf "  target %-26s %.3f (at most %s): %s   [load %.2f, %.1f free cores]\n", l, r, m, (r <= m) ? "met" : "NOT met", load, free }'
}

for mp in $sizes; do
  case $mp in
    100) width=10000 height=10000 ;;
    24) width=6000 height=4000 ;;
    1) width=1000 height=1000 ;;
    1536) width=23168 height=23170 ;;
    [1-9]*x[1-9]*) width=${mp%x*} height=${mp#*x} ;;
    *) echo "compare.sh: size $mp not known (100, 24, 1, 1536 or WIDTHxHEIGHT)" >&2; exit 2 ;;
  esac
  in=$work/in$mp.bmp
  out=$work/out.bmp
  "$gen" "$in" "$width" "$height"
  # Exactness first: bytes against an independent table and, where Pillow
  # can hold the image, pixels against Pillow's own result with the same
  # table. The 1.5 GiB file is too large for the peers' whole-image memory:
  # it is timed against cp and the floor alone.
  "$tool" "$in" "$out" "$level" >/dev/null
  "$py" "$helper" check "$in" "$out" "$level"
  rm -f "$out"
  "$floor" "$in" "$out" "$level"
  "$py" "$helper" check "$in" "$out" "$level"
  megabytes=$((width * height * 3 / 1000000))
  case $mp in
    1536) size="1.5 GiB" workload="1.5 GiB file" title="1.5 GiB, 24-bit ${width}x${height}" ;;
    *x*) size=$mp workload="${mp} file ($megabytes MB)" title="${mp}, 24-bit ($megabytes MB)" ;;
    *) size="$mp MP" workload="${mp} MP file ($megabytes MB)" title="${mp} MP, 24-bit ($megabytes MB)" ;;
  esac
  if [ "$mp" = 1536 ]; then
    names=("tool$mp" "cp$mp" "floor$mp")
    labels=(bmpcontrast cp floor)
  else
    names=("tool$mp" "cp$mp" "floor$mp" "pillow$mp" "magick$mp")
    labels=(bmpcontrast cp floor Pillow ImageMagick)
    "$py" "$helper" pillow "$in" "$work/pillow.bmp" "$level"
    "$py" "$helper" same-pixels "$out" "$work/pillow.bmp"
  fi
  rm -f "$out" "$work/pillow.bmp"
  echo "${title%%,*}: tool and floor outputs checked exactly"

  for ((r = 0; r < rounds; r++)); do
    # Each round starts with a different command, so that none always
    # follows the same one.
    for ((k = 0; k < ${#names[@]}; k++)); do
      name=${names[(k + r) % ${#names[@]}]}
      rm -f "$out"
      case $name in
        tool*) timed "$name" "$tool" "$in" "$out" "$level" ;;
        cp*) timed "$name" cp "$in" "$out" ;;
        floor*) timed "$name" "$floor" "$in" "$out" "$level" ;;
        pillow*) timed "$name" "$py" "$helper" pillow "$in" "$out" "$level" ;;
        magick*) timed "$name" /usr/bin/convert "$in" -function Polynomial "$magick_poly" \
          -type TrueColor "$out" ;;
      esac
    done
  done
  in_bytes=$(stat -c %s "$in")
  rm -f "$out" "$in"
  report "$title, medians of $rounds rounds:" "${names[@]}"
  csv_rows "$workload" "${#names[@]}" "${names[@]}" "${labels[@]}"
  printf '| %s | %.3f s | %.3f s | %.3f s | %.2f | %.2f | %.2f | %.2f | %.1f |\n' "$workload" \
    "$(median_of "tool$mp")" "$(median_of "floor$mp")" "$(median_of "cp$mp")" \
    "$(ratio_of "tool$mp" "cp$mp")" "$(ratio_of "tool$mp" "floor$mp")" \
    "$(ratio_of "floor$mp" "cp$mp")" \
    "$(median_load "$work/times.tool$mp" "$work/times.cp$mp" "$work/times.floor$mp")" \
    "$(median_free "$work/times.tool$mp" "$work/times.cp$mp" "$work/times.floor$mp")" \
    >>"$work/summary.md"
  if [ "$mp" = 100 ] || [ "$mp" = 1536 ]; then
    verdict "tool/floor ($size)" "tool$mp" "floor$mp" 1.0
  else
    verdict "tool/floor ($size)" "tool$mp" "floor$mp" 1.1
  fi
  if [ "$mp" = 1536 ]; then
    memory_cap "tool peak RSS (1.5 GiB)" tool1536 16
  elif [ "$mp" != 100 ]; then
    verdict "tool/cp ($size)" "tool$mp" "cp$mp" 2.5
  else
    verdict "tool/cp (100 MP)" tool100 cp100 1.0
    verdict "tool/Pillow (100 MP)" tool100 pillow100 0.25
    memory_verdict "tool peak/file (100 MP)" tool100 "$in_bytes" 1.25
    memory_cap "tool peak RSS (100 MP)" tool100 16
  fi
done

# Many small files.
if [ "$batch_files" -gt 0 ]; then
  if ! grep -q -- '--out-dir' <("$tool" --help 2>&1); then
    echo
    echo "batch: skipped, $tool has no --out-dir (batch mode)"
  else
    mkdir -p "$bwork/batch"
    files=()
    for ((i = 0; i < batch_files; i++)); do
      files+=("$bwork/batch/img$i.bmp")
      "$gen" "${files[i]}" 1000 1000 "$((i + 1))"
    done
    rm -rf "$bwork/out" && mkdir "$bwork/out"
    "$tool" --level "$level" --out-dir "$bwork/out" --jobs 2 "${files[@]}" >/dev/null \
      2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    "$py" "$helper" check-batch "$level" "$bwork/out" "${files[@]}"
    echo
    echo "batch: $batch_files tool outputs checked exactly"

    names=(tool_batch cp_batch mogrify pillow_loop)
    for ((r = 0; r < batch_rounds; r++)); do
      for ((k = 0; k < ${#names[@]}; k++)); do
        name=${names[(k + r) % ${#names[@]}]}
        rm -rf "$bwork/out" && mkdir "$bwork/out"
        case $name in
          tool_batch) timed "$name" "$tool" --level "$level" --out-dir "$bwork/out" --jobs 2 \
            "${files[@]}" ;;
          cp_batch) timed "$name" cp "${files[@]}" "$bwork/out/" ;;
          mogrify) timed "$name" /usr/bin/mogrify -path "$bwork/out" -function Polynomial \
            "$magick_poly" -type TrueColor "${files[@]}" ;;
          pillow_loop) timed "$name" "$py" "$helper" pillow-batch "$bwork/out" "$level" \
            "${files[@]}" ;;
        esac
      done
    done
    rm -rf "$bwork/out" "$bwork/batch"
    report "batch of $batch_files files of 1 MP (3 MB), medians of $batch_rounds rounds:" \
      "${names[@]}"
    csv_rows "$batch_files files of 1 MP" 4 "${names[@]}" bmpcontrast cp ImageMagick Pillow
    verdict "tool/cp (batch)" tool_batch cp_batch 0.6
    verdict "tool/mogrify (batch)" tool_batch mogrify 0.3333
  fi
fi

# Many tiny files in one folder: the cost per file, not per byte.
if [ "$small_files" -gt 0 ]; then
  mkdir -p "$bwork/small"
  "$gen" "$bwork/small/seed.bmp" 16 16 1  # 822 bytes
  "$py" - "$bwork/small" "$small_files" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
data = open(os.path.join(folder, "seed.bmp"), "rb").read()
os.remove(os.path.join(folder, "seed.bmp"))
for i in range(count):
    with open(os.path.join(folder, "s%05d.bmp" % i), "wb") as f:
        f.write(data)
PY
  rm -rf "$bwork/sout"
  "$tool" -r --level "$level" --out-dir "$bwork/sout" --jobs 2 "$bwork/small" >/dev/null \
    2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  "$py" "$helper" check-batch "$level" "$bwork/sout" "$bwork/small/s00000.bmp" \
    "$bwork/small/s$(printf %05d $((small_files - 1))).bmp"
  echo
  echo "small files: $small_files outputs written, two checked exactly"
  names=(tool_small cp_small)
  for ((r = 0; r < batch_rounds; r++)); do
    for ((k = 0; k < ${#names[@]}; k++)); do
      name=${names[(k + r) % ${#names[@]}]}
      rm -rf "$bwork/sout"
      case $name in
        tool_small) timed "$name" "$tool" -r --level "$level" --out-dir "$bwork/sout" --jobs 2 \
          "$bwork/small" ;;
        cp_small) timed "$name" cp -r "$bwork/small" "$bwork/sout" ;;
      esac
    done
  done
  rm -rf "$bwork/sout" "$bwork/small"
  report "$small_files files of 822 bytes in one folder, medians of $batch_rounds rounds:" \
    "${names[@]}"
  csv_rows "$small_files files of 822 B" 2 "${names[@]}" bmpcontrast cp
  verdict "tool/cp -r (small files)" tool_small cp_small 1.5
fi

if [ -s "$work/summary.md" ]; then
  echo
  echo "Single files, medians of $rounds rounds (ratios: medians of same-round ratios):"
  echo
  echo "| case | tool | floor | cp | tool / cp | tool / floor | floor / cp | load | free cores |"
  echo "|---|---|---|---|---|---|---|---|---|"
  cat "$work/summary.md"
fi
echo
echo "Figures in the columns of docs/performance.csv:"
echo
cat "$work/figures.csv"
if [ -n "${CSV:-}" ]; then cp "$work/figures.csv" "$CSV"; fi

echo
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)"
