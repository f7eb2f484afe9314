#!/usr/bin/env bash
# The main job on the bundled demo drive image: set up, build, then show what the drive is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh
bash scripts/build.sh -DVM_BENCH=OFF
echo
echo "== vellumark-cli info data/demo.img"
./build/vellumark-cli info data/demo.img
echo
echo "== vellumark-cli list data/demo.img   (state, kind, size, created, modified, accessed, id, path)"
./build/vellumark-cli list data/demo.img
