#!/usr/bin/env bash
# Builds the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer, and runs them. Expects the packages to be installed and DISPLAY to be set
# (the client's tests draw with OpenGL); scripts/test.sh calls it inside its virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# Mesa's software renderer draws on the calling thread: LeakSanitizer's scan at exit now and
# then crashes ("Tracer caught signal 11") on the thread-local storage of its worker threads.
export LP_NUM_THREADS=0

echo "== unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build-asan.sh
ctest --test-dir build-asan -L unit --output-on-failure -j "$(nproc)" --timeout 300

# The network thread meets the main thread in the shared library and the server: those tests
# run under ThreadSanitizer. Mesa's software renderer is not built for it, so the client's
# OpenGL tests stay out.
echo "== threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVIK_SANITIZE=thread >/dev/null
cmake --build build-tsan --target common_tests server_tests
ctest --test-dir build-tsan -L unit -E '^(client_tests)' --output-on-failure -j "$(nproc)" \
  --timeout 300

# The client's receiver, connection and sender tests use no OpenGL; they run under
# ThreadSanitizer in a folder of their own, so that the OpenGL tests stay out of build-tsan.
echo "== client network tests under ThreadSanitizer"
cmake -S . -B build-tsan-client -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVIK_SANITIZE=thread \
  >/dev/null
cmake --build build-tsan-client --target client_tests
ctest --test-dir build-tsan-client -R '^(PacketReceiver|NetworkManager|Sender)' \
  --output-on-failure -j "$(nproc)" --timeout 300
