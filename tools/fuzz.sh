#!/usr/bin/env bash
# Builds every libFuzzer harness (tests/fuzz/fuzz_<name>.cpp, clang) and runs each for the
# given number of seconds, starting from its seeds in tests/fuzz/corpus/<name>/.
#   tools/fuzz.sh [seconds per harness, default 60]
# Inputs the fuzzer finds interesting collect in build-fuzz/fuzz-corpus/<name>/ (the
# repository's seeds are not touched); a crash, hang or sanitizer report leaves its input
# in build-fuzz/fuzz-artifacts/ and makes the script fail. Replay one with
#   TAVRIX_FUZZ_SHOW=1 build-fuzz/tests/fuzz/fuzz_<name> <input file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${TAVRIX_FUZZ_BUILD:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_FUZZ=ON \
    -DTAVRIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_harnesses -j2 >/dev/null

status=0
mkdir -p "$build/fuzz-artifacts"
for source in tests/fuzz/fuzz_*.cpp; do
    harness=$(basename "$source" .cpp)
    name=${harness#fuzz_}
    work=$build/fuzz-corpus/$name
    mkdir -p "$work"
    dirs=("$work")
    [ -d "tests/fuzz/corpus/$name" ] && dirs+=("tests/fuzz/corpus/$name")
    echo "== $harness: $seconds s"
    log=$build/fuzz-artifacts/$name.log
    result=0
    "$build/tests/fuzz/$harness" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" "${dirs[@]}" >"$log" 2>&1 || result=$?
    grep -E "DONE|stat::number_of_executed_units|stat::peak_rss_mb" "$log" || true
    if [ "$result" -ne 0 ]; then
        grep -E -A30 "ERROR|SUMMARY|Test unit written|deadly signal|timeout" "$log" | head -60 || true
        echo "!! $harness failed (log: $log)"
        status=1
    fi
done
exit $status
