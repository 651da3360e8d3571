#!/usr/bin/env bash
# --update beside rsync, over one tree of about 100,000 files made of copies of a corpus:
#  1. nothing changed: `sveltery -r --update` against `rsync -a --dry-run` to a mirror of the tree
#     (both stat every file and compare size and time), alternating; target at most 0.5x;
#  2. 1 % of the files touched: `sveltery -r --update` against a full `sveltery -r` into a fresh
#     directory, and against the same full run again over its own output (what a deploy without
#     --update does each time), alternating; target at most 0.1x.
# Prints each run's time, the medians side by side and their ratios.
# Usage: bench/update.sh [corpus] [files] [runs] [sveltery options...]
#   (default: ../shared/corpus, or tests/corpus without it; 100000 files; 5 runs; e.g.
#   `--precompress` to count the compressed siblings in)
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${1:-../shared/corpus}
[[ -d $corpus ]] || corpus=tests/corpus
files=${2:-100000}
runs=${3:-5}
extra=("${@:4}")
bin=$PWD/build/release/src/sveltery
[[ -x $bin ]] || { cmake --preset release >/dev/null && cmake --build --preset release --target sveltery >/dev/null; }
if ! command -v rsync >/dev/null; then
  if [[ $(id -u) -eq 0 ]]; then apt-get install -y rsync >/dev/null || true; else sudo apt-get install -y rsync >/dev/null || true; fi
fi
have_rsync=1
command -v rsync >/dev/null || { have_rsync=0; echo "rsync could not be installed: its column is left out" >&2; }
scratch=$(mktemp -d /tmp/sveltery-update-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Milliseconds `"$@"` takes, its output dropped.
ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { echo "scale=3; $1 / $2" | bc -l; }

per=$(find "$corpus" -type f | wc -l)
copies=$(((files + per - 1) / per))
mkdir -p "$scratch/tree"
for ((k = 0; k < copies; k++)); do cp -r "$corpus" "$scratch/tree/copy$k"; done
count=$(find "$scratch/tree" -type f | wc -l)
size=$(du -sm "$scratch/tree" | cut -f1)
echo "tree: $count files, $size MB ($copies copies of $corpus); sveltery options: ${extra[*]:-none}"

cd "$scratch"
((have_rsync)) && rsync -a tree/ mirror/
"$bin" -r --update "${extra[@]}" -o out tree >/dev/null 2>&1 || true
sync

# `find -printf` stats every file as well, and does nothing else: the floor of any tool that
# decides by size and time.
echo "== nothing changed (ms)"
rs=() up=() fs=()
for ((r = 0; r < runs; r++)); do
  last=n/a
  if ((have_rsync)); then
    last=$(ms rsync -a --dry-run tree/ mirror/)
    rs+=("$last")
  fi
  fs+=("$(ms find tree -type f -printf '%s %T@\n')")
  up+=("$(ms "$bin" -r --update "${extra[@]}" -o out tree)")
  echo "run $r: rsync -a --dry-run $last  find -printf ${fs[-1]}  sveltery --update ${up[-1]}"
done
up_m=$(median "${up[@]}") fs_m=$(median "${fs[@]}")
if ((have_rsync)); then
  rs_m=$(median "${rs[@]}")
  echo "median: rsync -a --dry-run $rs_m ms, sveltery --update $up_m ms: $(ratio "$up_m" "$rs_m")x (target <= 0.5)"
fi
echo "median: find -printf $fs_m ms, sveltery --update $up_m ms: $(ratio "$up_m" "$fs_m")x"

# Every hundredth file, a new time each run.
find tree -type f | awk 'NR % 100 == 0' >touched
echo "== $(wc -l <touched) files (1 %) touched before each --update run (ms)"
full=() again=() part=()
for ((r = 0; r < runs; r++)); do
  rm -rf full
  sync
  full+=("$(ms "$bin" -r "${extra[@]}" -o full tree)")
  # The full run's writes are flushed first: the record's fsync would otherwise wait for them.
  sync
  # What a deploy without --update does the next time: every output written over the last one.
  again+=("$(ms "$bin" -r "${extra[@]}" -o full tree)")
  sync
  xargs -d '\n' touch <touched
  part+=("$(ms "$bin" -r --update "${extra[@]}" -o out tree)")
  echo "run $r: full run ${full[-1]}  full run over its own output ${again[-1]}  sveltery --update ${part[-1]}"
done
full_m=$(median "${full[@]}") again_m=$(median "${again[@]}") part_m=$(median "${part[@]}")
echo "median: full run $full_m ms, --update after touching 1 % $part_m ms: $(ratio "$part_m" "$full_m")x (target <= 0.1)"
echo "median: full run over its own output $again_m ms, --update after touching 1 % $part_m ms: $(ratio "$part_m" "$again_m")x"
