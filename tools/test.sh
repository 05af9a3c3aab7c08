#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite.
# Arguments go to CMake (e.g. -DTOVIX_SHARED_DIR=DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --tests
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
