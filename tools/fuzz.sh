#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 16 and runs one of them.
#   tools/fuzz.sh                      build only
#   tools/fuzz.sh NAME [SECONDS]       run fuzz_NAME (default 600 s) on all cores,
#                                      from fuzz/seeds/NAME with fuzz/NAME.dict
set -euo pipefail
cd "$(dirname "$0")/.."
# Undefined behaviour stops a run with its input kept, as a crash does.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
bash tools/setup.sh --fuzz
CXX=clang++-16 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIX_FUZZ=ON
cmake --build build-fuzz -j "$(nproc)"
[ $# -ge 1 ] || exit 0
name=$1 seconds=${2:-600}
corpus=fuzz/corpus-$name
mkdir -p "$corpus"
seeds=()
[ -d "fuzz/seeds/$name" ] && seeds=("fuzz/seeds/$name")
dict=()
[ -f "fuzz/$name.dict" ] && dict=("-dict=fuzz/$name.dict")
"build-fuzz/fuzz/fuzz_$name" "$corpus" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" \
  -jobs="$(nproc)" -workers="$(nproc)" -print_final_stats=1
