#!/usr/bin/env bash
# Installs what is missing, builds with sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)

source scripts/deps.sh

jobs=$(nproc)

# Sanitized build and the whole test suite.
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON >/dev/null
cmake --build build-test -j "$jobs"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d /tmp/quorvel-xdg.XXXXXX)
chmod 700 "$XDG_RUNTIME_DIR"
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Fuzz smoke runs of the frame decoder and the stream link, of the archive
# reader and of the script binding's payload decoder, when clang is there.
fuzz_status=0
if command -v clang++ >/dev/null 2>&1; then
    CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_FUZZ=ON \
        -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzz_erfcstream fuzz_tarreader fuzz_payloaddecoder
    mkdir -p build-fuzz/corpus
    if ./build-fuzz/tests/fuzz/fuzz_erfcstream -runs=200000 -max_len=512 -seed=1 \
            build-fuzz/corpus tests/fuzz/corpus > build-fuzz/fuzz.log 2>&1; then
        echo "fuzz smoke run: $(grep -E '^Done' build-fuzz/fuzz.log || tail -n 1 build-fuzz/fuzz.log)"
    else
        tail -n 60 build-fuzz/fuzz.log
        echo "fuzz smoke run FAILED"
        fuzz_status=1
    fi
    mkdir -p build-fuzz/corpus_tar
    if ./build-fuzz/tests/fuzz/fuzz_tarreader -runs=30000 -max_len=4096 -seed=1 \
            build-fuzz/corpus_tar tests/fuzz/corpus_tar > build-fuzz/fuzz_tar.log 2>&1; then
        echo "archive fuzz smoke run: $(grep -E '^Done' build-fuzz/fuzz_tar.log || tail -n 1 build-fuzz/fuzz_tar.log)"
    else
        tail -n 60 build-fuzz/fuzz_tar.log
        echo "archive fuzz smoke run FAILED"
        fuzz_status=1
    fi
    mkdir -p build-fuzz/corpus_payload
    if ./build-fuzz/tests/fuzz/fuzz_payloaddecoder -runs=300000 -max_len=128 -seed=1 \
            build-fuzz/corpus_payload tests/fuzz/corpus_payload > build-fuzz/fuzz_payload.log 2>&1; then
        echo "payload fuzz smoke run: $(grep -E '^Done' build-fuzz/fuzz_payload.log || tail -n 1 build-fuzz/fuzz_payload.log)"
    else
        tail -n 60 build-fuzz/fuzz_payload.log
        echo "payload fuzz smoke run FAILED"
        fuzz_status=1
    fi
else
    echo "clang++ not found: fuzz smoke run skipped"
fi

cd build-test
test_status=0
ctest --output-on-failure -j "$jobs" --timeout 600 || test_status=$?
exit $(( test_status || fuzz_status ))
