#!/usr/bin/env bash
# Coverage of the server by one fuzz target, replayed over its corpus:
#   tools/fuzz_coverage.sh NAME [INPUT...]
# Builds fuzz_NAME with clang 16's source-based coverage (build-fuzz-cov),
# runs every input once (default: fuzz/corpus-NAME and fuzz/seeds/NAME) and
# prints llvm-cov's report of the server's sources, file by file. Set
# TOVIX_COVERAGE_FILES to a list of sources to report only those.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: tools/fuzz_coverage.sh NAME [INPUT...]" >&2; exit 2; }
name=$1
shift
bash tools/setup.sh --fuzz
CXX=clang++-16 cmake -S . -B build-fuzz-cov -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIX_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
cmake --build build-fuzz-cov -j "$(nproc)" --target "fuzz_$name" >/dev/null
inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  for dir in "fuzz/corpus-$name" "fuzz/seeds/$name"; do
    [ -d "$dir" ] && inputs+=("$dir")
  done
fi
profiles=build-fuzz-cov/profiles-$name
rm -rf "$profiles"
mkdir -p "$profiles"
LLVM_PROFILE_FILE="$profiles/%p.profraw" "build-fuzz-cov/fuzz/fuzz_$name" -runs=0 "${inputs[@]}" >/dev/null 2>&1
llvm-profdata-16 merge -sparse "$profiles"/*.profraw -o "$profiles/merged.profdata"
files=${TOVIX_COVERAGE_FILES:-$(find server/src -name '*.cpp' | sort)}
# shellcheck disable=SC2086
llvm-cov-16 report "build-fuzz-cov/fuzz/fuzz_$name" -instr-profile="$profiles/merged.profdata" $files
