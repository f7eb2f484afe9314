#!/usr/bin/env bash
# The sector search of a 1 GiB image (random filler with real files planted at sector-aligned
# offsets) against reading the same image with cat, page cache warm, in the same run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=${CLI:-$here/../build/vellumark-cli}
data=${DATA:-$here/data}
source "$here/timing.sh"
bash "$here/make_large_images.sh" "$data" search >/dev/null
image=$data/search_1g.img
cat "$image" >/dev/null  # warm the page cache
runs=${RUNS:-3}
t_cat=$(best_of "$runs" cat "$image")
t_one=$(best_of "$runs" "$cli" scan --sectors-only "$image")
t_two=$(best_of "$runs" "$cli" scan --sectors-only --threads 2 "$image")
finds=$("$cli" scan --sectors-only "$image" | grep -c '^file' || true)
echo "sector search of 1 GiB, best of $runs (finds: $finds)"
echo "  cat                      ${t_cat} s"
echo "  scan, 1 search thread    ${t_one} s   ratio $(ratio "$t_one" "$t_cat")"
echo "  scan, 2 search threads   ${t_two} s   ratio $(ratio "$t_two" "$t_cat")"
