#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   ./test.sh           normal build, then AddressSanitizer + UndefinedBehaviorSanitizer,
#                       then the threaded tests under ThreadSanitizer, then each fuzzer
#                       for a bounded time
#   ./test.sh --quick   normal build and its tests only
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"

quick=0
[[ "${1:-}" == "--quick" ]] && quick=1
fuzz_seconds=${BRELLIN_FUZZ_SECONDS:-30}
jobs=$(nproc)

scripts/install-deps.sh test

configure() {  # folder, cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
}

step() { echo; echo "==== $* ===="; }

step "normal build (build/)"
mkdir -p build
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRELLIN_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

[[ $quick -eq 1 ]] && exit 0

step "AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)"
mkdir -p build-asan
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DBRELLIN_WERROR=ON "-DBRELLIN_SANITIZE=address;undefined" -DBRELLIN_BENCH=OFF -DBRELLIN_UI=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j "$jobs")

step "ThreadSanitizer, threaded tests (build-tsan/)"
mkdir -p build-tsan
configure build-tsan -DCMAKE_BUILD_TYPE=Debug -DBRELLIN_WERROR=ON -DBRELLIN_SANITIZE=thread -DBRELLIN_BENCH=OFF -DBRELLIN_UI=OFF
cmake --build build-tsan -j "$jobs"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -L threaded -j "$jobs")

step "fuzzers, ${fuzz_seconds} s each (build-fuzz/)"
# A fault is reported with files and lines by the llvm-symbolizer of the
# clang that builds the fuzzers (llvm-14 on Debian 12, from install-deps).
symbolizer="$(dirname "$(readlink -f "$(command -v clang)")")/llvm-symbolizer"
if [[ -x $symbolizer ]]; then
  export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
else
  echo "No $symbolizer: a fault's stack would show addresses only."
fi
mkdir -p build-fuzz
CC=clang CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRELLIN_WERROR=ON -DBRELLIN_FUZZ=ON -DBUILD_TESTING=OFF -DBRELLIN_BENCH=OFF -DBRELLIN_UI=OFF
cmake --build build-fuzz -j "$jobs"
shopt -s nullglob
for fuzzer in build-fuzz/fuzz/*; do
  [[ -x "$fuzzer" && -f "$fuzzer" ]] || continue
  name=$(basename "$fuzzer")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "fuzz/corpus/$name" ]] && seeds+=("fuzz/corpus/$name")
  echo "-- $name"
  "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
    "$corpus" "${seeds[@]}" >"build-fuzz/$name.log" 2>&1 || { tail -n 60 "build-fuzz/$name.log"; echo "fuzzer $name found a fault"; exit 1; }
  # libFuzzer's last status line, "#RUNS<tab>DONE cov: ...".
  grep -E '^#[0-9]+[[:space:]]+DONE' "build-fuzz/$name.log" || tail -n 2 "build-fuzz/$name.log"
done

echo
echo "All test stages passed."
