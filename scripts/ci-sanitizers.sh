#!/usr/bin/env bash
# Unit tests of the engines under ASan+UBSan (build-asan/) and the thread tests under
# ThreadSanitizer (build-tsan/, only the labels that run threads).
set -euo pipefail
cd "$(dirname "$0")/.."
# Cache hits across clones: ccache sees paths relative to the checkout.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
# Unit tests only: whole fax calls through the virtual modem (label e2e) run in the normal build.
(cd build-asan && ctest -j 2 --output-on-failure --timeout 900 -LE e2e)
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs"
(cd build-tsan && ctest -j 2 --output-on-failure --timeout 900 -L 'comm|tsan')
