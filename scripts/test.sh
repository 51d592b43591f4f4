#!/usr/bin/env bash
# Installs what is needed, builds the test build (Debug, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-test/ and runs every test. The app's own build
# (scripts/run.sh) stays in build/, so neither rebuilds the other.
# Builds (and tests) with one job per core unless JOBS gives the number.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUVAREL_SANITIZE=ON
cmake --build build-test --parallel "${JOBS:-$(nproc)}"
# X11 tests start their own Xvfb servers; everything else runs offscreen.
cd build-test
ctest --output-on-failure --parallel "${JOBS:-$(nproc)}" --timeout 300 "$@"
