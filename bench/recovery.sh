#!/usr/bin/env bash
# Recovering 1 GiB of files (100 files of 10 MiB on FAT32) from an image against cp of the same
# bytes from a folder, in the same run, page cache warm.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$here/../build/vellumark-cli}
data=${DATA:-$here/data}
source "$here/timing.sh"
mkdir -p "$data"
tree=$data/recovery_tree
image=$data/recovery_1g.img
if [ ! -f "$image" ]; then
  mkdir -p "$tree"
  for i in $(seq -w 1 100); do head -c 10485760 /dev/urandom > "$tree/file_$i.bin"; done
  truncate -s 1200M "$image.tmp"
  mkfs.fat -F 32 -n BENCH "$image.tmp" >/dev/null
  MTOOLS_SKIP_CHECK=1 mcopy -s -Q -i "$image.tmp" "$tree" ::/
  mv "$image.tmp" "$image"
fi
work=$(mktemp -d "$data/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
cat "$image" "$tree"/* >/dev/null
runs=${RUNS:-3}
copy() { rm -rf "$work/cp"; cp -r "$tree" "$work/cp"; sync -f "$work"; }
recover() { rm -rf "$work/rec"; "$cli" recover "$image" --to "$work/rec" >/dev/null; sync -f "$work"; }
t_cp=$(best_of "$runs" copy)
t_rec=$(best_of "$runs" recover)
recover
bad=0
for f in "$tree"/*; do cmp -s "$f" "$work/rec/recovery_tree/$(basename "$f")" || bad=$((bad + 1)); done
echo "recovery of 1 GiB (100 files), best of $runs; files differing from the originals: $bad"
echo "  cp -r      ${t_cp} s"
echo "  recover    ${t_rec} s   ratio $(ratio "$t_rec" "$t_cp")"
