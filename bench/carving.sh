#!/usr/bin/env bash
# Carving against photorec on the same image: the corpus of bench/make_corpus.sh (real files made
# by real tools, planted at sector-aligned offsets in 256 MiB of random filler) is recovered by
#   vellumark-cli recover IMAGE --to DIR --sectors --lost   (lost files of unknown size: default rule)
#   photorec, searching the whole image for every format it knows
# and each tool's output is compared with the manifest: planted files found (a recovered file
# starts at a planted offset), byte-identical (same SHA-256), found but of the wrong size, missed,
# and junk (recovered files that start at no planted offset; those that start inside a planted
# file, such as an EXIF thumbnail, are counted apart from those in the filler).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$here/../build/vellumark-cli}
data=${DATA:-$here/data}
corpus=$data/corpus
out=$data/carving
bash "$here/make_corpus.sh" "$corpus"
image=$corpus/corpus.img
rm -rf "$out"
mkdir -p "$out"
cat "$image" >/dev/null  # warm the page cache for both tools

# A settings folder of its own: the built-in file types, not ones a user stored or changed.
export VELLUMARK_CONFIG_DIR=$out/config
now() { date +%s.%N; }
t0=$(now)
"$cli" recover "$image" --to "$out/ours" --sectors --lost --size-rule default >"$out/ours.txt" 2>&1 || true
t1=$(now)
if command -v photorec >/dev/null; then
  mkdir -p "$out/photorec"
  (cd "$out" && timeout "${PHOTOREC_TIMEOUT:-1800}" photorec /log /d "$out/photorec/recup" \
     /cmd "$image" partition_none,fileopt,everything,enable,search >/dev/null 2>&1) || true
else
  echo "carving: photorec is not installed; only our tool is measured" >&2
fi
t2=$(now)
python3 - "$corpus/manifest.tsv" "$out/ours" "$out/photorec" \
  "$(echo "$t1 - $t0" | bc)" "$(echo "$t2 - $t1" | bc)" <<'PY'
import bisect, collections, csv, glob, hashlib, os, re, sys
manifest, ours_dir, pr_dir, t_ours, t_pr = sys.argv[1:]
planted = {}
for r in csv.DictReader(open(manifest), delimiter="\t"):
    planted[int(r["offset"])] = dict(r, offset=int(r["offset"]), size=int(r["size"]))
starts = sorted(planted)

def sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()

def ours():
    # (offset, extension, sha256) of every file the report lists as written.
    reports = glob.glob(os.path.join(ours_dir, "vellumark-report*.tsv"))
    for row in (csv.DictReader(open(reports[0]), delimiter="\t") if reports else []):
        if row["target"] != "-":
            yield int(row["source_offset"]), row["target"].rsplit(".", 1)[-1].lower(), row["sha256"]

def photorec():
    # photorec names a file f<sector>[_name].ext after its first sector.
    for path in glob.glob(os.path.join(pr_dir, "*", "f*")):
        m = re.match(r"f(\d+)[^.]*\.?(\S*)$", os.path.basename(path))
        if m:
            yield int(m.group(1)) * 512, m.group(2).lower() or "-", sha(path)

def inside(offset):
    i = bisect.bisect_right(starts, offset) - 1
    return i >= 0 and offset < starts[i] + planted[starts[i]]["size"]

def evaluate(finds):
    at = collections.defaultdict(list)
    junk, embedded = collections.Counter(), collections.Counter()
    for offset, ext, digest in finds:
        if offset in planted:
            at[offset].append(digest)
        elif inside(offset):
            embedded[ext] += 1
        else:
            junk[ext] += 1
    per = collections.defaultdict(collections.Counter)
    extra = 0
    for offset, p in planted.items():
        c = per[p["format"]]
        c["planted"] += 1
        digests = at.get(offset, [])
        extra += max(0, len(digests) - 1)
        if not digests:
            c["missed"] += 1
        else:
            c["found"] += 1
            c["identical" if p["sha256"] in digests else "wrong size"] += 1
    return per, junk, embedded, extra

results = {"ours": evaluate(ours()), "photorec": evaluate(photorec())}
times = {"ours": float(t_ours), "photorec": float(t_pr)}
cols = ("found", "identical", "wrong size", "missed")
print(f"{'':8}{'':>8} | {'vellumark':^40} | {'photorec':^40}")
print(f"{'format':8}{'planted':>8} | " + " | ".join(" ".join(f"{c:>9}" for c in cols) for _ in results))
formats = sorted({p["format"] for p in planted.values()})
total = {k: collections.Counter() for k in results}
for fmt in formats:
    cells = []
    for k, (per, *_rest) in results.items():
        total[k].update(per[fmt])
        cells.append(" ".join(f"{per[fmt][c]:>9}" for c in cols))
    print(f"{fmt:8}{results['ours'][0][fmt]['planted']:>8} | " + " | ".join(cells))
print(f"{'total':8}{total['ours']['planted']:>8} | " +
      " | ".join(" ".join(f"{total[k][c]:>9}" for c in cols) for k in results))
print()
print(f"{'':26}{'vellumark':>12}{'photorec':>12}")
rows = [("junk in the filler", lambda r: sum(r[1].values())),
        ("finds inside planted files", lambda r: sum(r[2].values())),
        ("second finds at a planted offset", lambda r: r[3])]
for label, f in rows:
    print(f"{label:26}{f(results['ours']):>12}{f(results['photorec']):>12}")
print(f"{'time (s)':26}{times['ours']:>12.1f}{times['photorec']:>12.1f}")
print()
for k, (_per, junk, embedded, _extra) in results.items():
    print(f"{k} junk by extension: " + (", ".join(f"{e} {n}" for e, n in junk.most_common()) or "none"))
    print(f"{k} finds inside planted files: " + (", ".join(f"{e} {n}" for e, n in embedded.most_common()) or "none"))
PY
