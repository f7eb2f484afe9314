#!/usr/bin/env bash
# The whole test suite: set up, build, make the fixture drive images, run every test, run it
# again under AddressSanitizer and UndefinedBehaviorSanitizer, fuzz each parser briefly, and
# check that no test changed a drive image.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/install_deps.sh

fixtures=$root/build/fixtures
bash scripts/build.sh
bash tests/fixtures/make_images.sh "$fixtures"
(cd "$fixtures" && sha256sum --quiet -c SHA256SUMS)
sha_demo=$(sha256sum data/demo.img)

echo "== tests"
export VELLUMARK_SCREENSHOT_DIR=$root/build/screenshots
ctest --test-dir build --output-on-failure -j2

echo "== the desktop program, started for real under a virtual display"
bash scripts/real_start.sh build "$fixtures/fat16.img" "$VELLUMARK_SCREENSHOT_DIR"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan bash scripts/build.sh -DVM_SANITIZE=ON -DVM_BENCH=OFF -DVM_UI=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DVM_FIXTURE_DIR="$fixtures"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j2

echo "== fuzzing each parser briefly"
BUILD_DIR=build-fuzz CXX=clang++ bash scripts/build.sh -DVM_FUZZ=ON -DVM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus=$root/fuzz/corpus/$name
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  "$target" -max_total_time="${FUZZ_SECONDS:-20}" -rss_limit_mb=4096 -detect_leaks=0 -print_final_stats=0 "$work" 2>&1 | tail -n 2
  rm -rf "$work"
done

echo "== drive images unchanged"
(cd "$fixtures" && sha256sum --quiet -c SHA256SUMS)
echo "$sha_demo" | sha256sum --quiet -c
echo "all checks passed"
