#!/usr/bin/env bash
# Recovering many small files: every file of an NTFS image (FOLDERS folders of FILES small files,
# every 20th of them deleted) recovered by vellumark-cli and by sleuthkit's `tsk_recover -e`
# in the same run, page cache warm; wall time, CPU time and peak memory of each (/usr/bin/time).
# Both run at the lowest priority (nice 19), where our recovery thread puts itself anyway, so
# that neither is favoured on a busy machine.
# The image is made once through an ntfs-3g mount (as root):
#   FOLDERS=100 FILES=1000 bench/small_files.sh      2 GiB, 100,000 files, 5,000 deleted (default)
#   FOLDERS=10 FILES=1000 bench/small_files.sh       a smaller one while working on it
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$here/../build/vellumark-cli}
data=${DATA:-$here/data}
folders=${FOLDERS:-100}
files=${FILES:-1000}
runs=${RUNS:-3}
mkdir -p "$data"
data=$(cd "$data" && pwd)
image=$data/small_files_${folders}x${files}.img

make_image() {
  local work mnt size_mib
  work=$(mktemp -d "$data/make.XXXXXX")
  mnt=$work/mnt
  mkdir -p "$mnt"
  # About 20 KiB of volume per file (MFT record, index entries, data), at least 64 MiB.
  size_mib=$(( folders * files / 50 + 64 ))
  truncate -s "${size_mib}M" "$work/ntfs.img"
  mkntfs -F -Q -q -L SMALL "$work/ntfs.img" >/dev/null 2>&1
  ntfs-3g -o big_writes "$work/ntfs.img" "$mnt"
  python3 - "$mnt" "$folders" "$files" <<'PY'
import os, sys
root, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range(folders):
    p = os.path.join(root, f"folder_{d:03d}")
    os.makedirs(p)
    for f in range(per):
        with open(os.path.join(p, f"note {f:04d}.txt"), "wb") as out:
            out.write((f"note {d}/{f}\n" * (1 + f % 60)).encode())
    for f in range(0, per, 20):
        os.remove(os.path.join(p, f"note {f:04d}.txt"))
PY
  umount "$mnt"
  while pgrep -f "ntfs-3g .*$work" >/dev/null; do sleep 0.2; done
  mv "$work/ntfs.img" "$image"
  rm -rf "$work"
}
[ -f "$image" ] || make_image

work=$(mktemp -d "$data/run.XXXXXX")
trap 'rm -rf "$work"' EXIT
cat "$image" >/dev/null

# measure NAME command...: best wall time of RUNS runs, with that run's CPU seconds and peak KiB.
measure() {
  local name=$1 best="" line
  shift
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"
    line=$(/usr/bin/time -f '%e %U %S %M' nice -n 19 "$@" 2>&1 >/dev/null | tail -1 || true)
    sync -f "$work"
    read -r wall user sys peak <<<"$line"
    if [ -z "$best" ] || (( $(echo "$wall < ${best%% *}" | bc -l) )); then
      best="$wall $(echo "$user + $sys" | bc -l) $peak"
    fi
  done
  echo "$name $best"
}
tsk=$(measure tsk tsk_recover -e "$image" "$work/out")
ours=$(measure vellumark "$cli" recover "$image" --to "$work/out")
read -r _ t_wall t_cpu t_peak <<<"$tsk"
read -r _ o_wall o_cpu o_peak <<<"$ours"

# What was recovered: our files against tsk_recover's, by path and content.
rm -rf "$work/out" "$work/tsk"
tsk_recover -e "$image" "$work/tsk" >/dev/null
"$cli" recover "$image" --to "$work/out" >/dev/null || true
theirs=$(cd "$work/tsk" && find . -path './$*' -prune -o -type f -print | wc -l)
differing=$(cd "$work/tsk" && find . -path './$*' -prune -o -type f -print0 |
  xargs -0 -I{} sh -c 'cmp -s "{}" "'"$work/out"'/{}" || echo "{}"' | wc -l)

echo "recovery of every file of $image (${folders} x ${files} files, every 20th deleted), best of $runs"
echo "  files tsk_recover wrote: $theirs; of those missing or different in ours: $differing"
printf '  %-12s %8s s wall %8s s cpu %8s MiB peak\n' tsk_recover "$t_wall" "$t_cpu" "$((t_peak / 1024))"
printf '  %-12s %8s s wall %8s s cpu %8s MiB peak\n' vellumark "$o_wall" "$o_cpu" "$((o_peak / 1024))"
echo "  time ratio $(printf '%.2f' "$(echo "$o_wall / $t_wall" | bc -l)")," \
  "cpu ratio $(printf '%.2f' "$(echo "$o_cpu / $t_cpu" | bc -l)")," \
  "peak memory ratio $(printf '%.2f' "$(echo "$o_peak / $t_peak" | bc -l)")"
