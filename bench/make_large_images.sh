#!/usr/bin/env bash
# Makes the large drive images of the benchmarks into DIR (default bench/data), once:
#   ntfs_100k.img  2 GiB NTFS with 100,000 small files in 1,000 folders (made through ntfs-3g)
#   fat32_50k.img  1 GiB FAT32 with 50,000 small files in 500 folders (made with mtools)
#   search_1g.img  1 GiB of random filler with real files planted at sector-aligned offsets
# Extra arguments name the images wanted (ntfs fat search); none means all.
set -euo pipefail
dir=${1:-$(dirname "$0")/data}
shift || true
wanted=${*:-ntfs fat search}
want() { [[ " $wanted " == *" $1 "* ]]; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"; rm -rf "$work"' EXIT

make_tree() {  # make_tree ROOT FOLDERS FILES_PER_FOLDER
  python3 - "$1" "$2" "$3" <<'PY'
import os, sys
root, folders, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range(folders):
    p = os.path.join(root, f"folder_{d:04d}")
    os.makedirs(p, exist_ok=True)
    for f in range(per):
        with open(os.path.join(p, f"document number {f:04d}.txt"), "wb") as out:
            out.write((f"file {d}/{f}\n" * (1 + f % 40)).encode())
PY
}

if want ntfs && [ ! -f "$dir/ntfs_100k.img" ]; then
  echo "making ntfs_100k.img (a few minutes)"
  truncate -s 2G "$work/ntfs.img"
  mkntfs -F -Q -q -L BENCH "$work/ntfs.img" >/dev/null 2>&1
  mkdir -p "$work/mnt"
  ntfs-3g -o big_writes "$work/ntfs.img" "$work/mnt"
  make_tree "$work/mnt" 1000 100
  umount "$work/mnt"
  mv "$work/ntfs.img" "$dir/ntfs_100k.img"
fi

if want fat && [ ! -f "$dir/fat32_50k.img" ]; then
  echo "making fat32_50k.img"
  truncate -s 1G "$work/fat.img"
  mkfs.fat -F 32 -n BENCH "$work/fat.img" >/dev/null
  mkdir -p "$work/tree"
  make_tree "$work/tree" 500 100
  MTOOLS_SKIP_CHECK=1 mcopy -s -Q -i "$work/fat.img" "$work/tree"/* ::/
  mv "$work/fat.img" "$dir/fat32_50k.img"
fi

if want search && [ ! -f "$dir/search_1g.img" ]; then
  echo "making search_1g.img"
  python3 - "$work/search.img" <<'PY'
import random, sys, struct, zlib
rnd = random.Random(1234)
size = 1 << 30
with open(sys.argv[1], "wb") as f:
    block = 1 << 20
    for _ in range(size // block):
        f.write(rnd.randbytes(block))
    # Real small files at sector-aligned offsets: PNG, PDF, ZIP headers with plausible bodies.
    def png():
        raw = b"".join(b"\x00" + bytes(rnd.randrange(256) for _ in range(48)) for _ in range(16))
        def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 2, 0, 0, 0)) + \
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
    def pdf():
        objs = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
        out = b"%PDF-1.4\n"
        offsets = []
        for n, body in enumerate(objs, 1):
            offsets.append(len(out))
            out += b"%d 0 obj\n" % n + body + b"\nendobj\n"
        xref = len(out)
        out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
        out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
        out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
        return out
    for i in range(2000):
        f.seek(rnd.randrange(size // 512 - 64) * 512)
        f.write(png() if i % 2 else pdf())
PY
  mv "$work/search.img" "$dir/search_1g.img"
fi
