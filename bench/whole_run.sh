#!/usr/bin/env bash
# Whole-run comparison: `sveltery -r` over a tree against `cp -r` of the same tree, alternating,
# each into a fresh directory. Prints each run's times and the median ratio sveltery / cp.
# On this machine kind (ext4 without a journal, in a virtual machine) both commands' times swing
# up to fourfold from one series to the next, and the ratio with them:
#  - for one to six minutes after large deletions (an earlier series' clean-up, a build, a test
#    run) every new inode scans past those freed recently: both commands are slow, and two workers
#    share the scans (lowest ratio);
#  - memory the system has not touched before costs the host a fault per page, and every output
#    needs fresh page cache;
#  - once both have settled, a plain copy is at its fastest (about 45 ms for the shared corpus)
#    and the optimizer's own work weighs most (highest ratio).
# The last line gives the median time of `cp -r` too, so that a series can be placed.
# Usage: bench/whole_run.sh [tree] [runs] [sveltery options...]
#   (default: ../shared/corpus, 9 runs, the default worker count; e.g. `--jobs 1` for one worker)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-../shared/corpus}
runs=${2:-9}
extra=("${@:3}")
bin=build/release/src/sveltery
[[ -x $bin ]] || { cmake --preset release >/dev/null && cmake --build --preset release --target sveltery >/dev/null; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

now() { date +%s.%N; }
# Every run writes into directories of its own and nothing is deleted until the end: freeing
# thousands of blocks (and the discards that follow) would otherwise slow whichever command runs
# next. The order alternates so neither command always meets the file system first.
time_cp() { sync; local t0; t0=$(now); cp -r "$tree" "$1"; echo "$(now) - $t0" | bc -l; }
time_sv() {
  sync
  local t0; t0=$(now)
  "$bin" "${extra[@]}" -r -o "$1" "$tree" >/dev/null || [[ $? -eq 1 ]]
  echo "$(now) - $t0" | bc -l
}
ratios=()
cp_times=()
for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then
    cp_s=$(time_cp "$scratch/cp$i"); sv_s=$(time_sv "$scratch/sv$i")
  else
    sv_s=$(time_sv "$scratch/sv$i"); cp_s=$(time_cp "$scratch/cp$i")
  fi
  ratio=$(echo "$sv_s / $cp_s" | bc -l)
  ratios+=("$ratio")
  cp_times+=("$cp_s")
  printf 'run %d: cp -r %.3f s, sveltery -r %.3f s, ratio %.2f\n' "$i" "$cp_s" "$sv_s" "$ratio"
done
median_of() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf 'median ratio (sveltery %s-r / cp -r) over %d runs: %.2f (cp -r: median %.3f s)\n' \
  "${extra[*]:+${extra[*]} }" "$runs" "$(median_of "${ratios[@]}")" "$(median_of "${cp_times[@]}")"
