#!/usr/bin/env bash
# Installs what is needed, builds the test build (Debug, AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNUVAREL_SANITIZE=ON
cmake --build build --parallel "$(nproc)"
# X11 tests start their own Xvfb servers; everything else runs offscreen.
cd build
ctest --output-on-failure --parallel "$(nproc)" --timeout 300 "$@"
