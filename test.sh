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

# Fuzz smoke runs of the frame decoder and the stream link, the archive
# reader, CFTP's response parser and request dispatcher and the script
# binding's payload decoder, when clang is there.
fuzz_status=0
if command -v clang++ >/dev/null 2>&1; then
    CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_FUZZ=ON \
        -DQUORVEL_TESTS=OFF -DQUORVEL_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzz_erfcstream fuzz_tarreader fuzz_cftp fuzz_payloaddecoder
    # name:corpus:max_len:runs (the CFTP paths touch the file system: fewer runs)
    for target in erfcstream:corpus:512:200000 tarreader:corpus_tar:4096:30000 \
                  cftp:corpus-cftp:1024:100000 payloaddecoder:corpus_payload:128:300000; do
        IFS=: read -r name corpus maxlen runs <<< "$target"
        mkdir -p "build-fuzz/$corpus"
        if ./build-fuzz/tests/fuzz/fuzz_$name -runs="$runs" -max_len="$maxlen" -seed=1 \
                "build-fuzz/$corpus" "tests/fuzz/$corpus" > "build-fuzz/fuzz_$name.log" 2>&1; then
            echo "fuzz smoke run $name: $(grep -E '^Done' "build-fuzz/fuzz_$name.log" || tail -n 1 "build-fuzz/fuzz_$name.log")"
        else
            tail -n 60 "build-fuzz/fuzz_$name.log"
            echo "fuzz smoke run $name FAILED"
            fuzz_status=1
        fi
    done
else
    echo "clang++ not found: fuzz smoke run skipped"
fi

test_status=0
(cd build-test && ctest --output-on-failure -j "$jobs" --timeout 300) || test_status=$?

# Thread-sanitizer build and run of every test suite, about three minutes
# on two cores. Every test program, and every program a test starts, writes
# its reports to build-tsan/tsan-reports/.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs"
rm -f build-tsan/tsan-reports/*
tsan_status=0
(cd build-tsan && ctest --output-on-failure -j "$jobs" --timeout 300) || tsan_status=$?
if compgen -G "build-tsan/tsan-reports/*" >/dev/null; then
    cat build-tsan/tsan-reports/*
    echo "thread sanitizer: reports above (build-tsan/tsan-reports/)"
    tsan_status=1
fi
exit $(( test_status || fuzz_status || tsan_status ))
