#!/usr/bin/env bash
# The file-system analysis of a large NTFS image (100,000 files) and a large FAT32 image
# (50,000 files) against sleuthkit's fls -r -p on the same images, in the same run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$here/../build/vellumark-cli}
data=${DATA:-$here/data}
source "$here/timing.sh"
bash "$here/make_large_images.sh" "$data" ntfs fat >/dev/null
runs=${RUNS:-3}
for image in "$data/ntfs_100k.img" "$data/fat32_50k.img"; do
  cat "$image" >/dev/null
  t_fls=$(best_of "$runs" fls -r -p "$image")
  t_ours=$(best_of "$runs" "$cli" list "$image")
  ours=$("$cli" list "$image" | wc -l)
  theirs=$(fls -r -p "$image" | wc -l)
  echo "$(basename "$image"): items listed: ours $ours, fls $theirs"
  echo "  fls -r -p              ${t_fls} s"
  echo "  vellumark-cli list     ${t_ours} s   ratio $(ratio "$t_ours" "$t_fls")"
done
