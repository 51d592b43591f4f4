#!/usr/bin/env bash
# Installs what is needed, builds the app (RelWithDebInfo) into build/ and starts it
# (build/bin/nuvarel). The test build lives in build-test/ (scripts/test.sh).
# Builds (and tests) with one job per core unless JOBS gives the number.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNUVAREL_SANITIZE=OFF
cmake --build build --parallel "${JOBS:-$(nproc)}" --target nuvarel
exec build/bin/nuvarel "$@"
