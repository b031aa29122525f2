#!/usr/bin/env bash
# Sets up a fresh machine (packages), builds, and runs the whole test suite.
# MORVIK_SKIP_INSTALL=1 skips the package step on a machine that already has them.
# MORVIK_SKIP_SLOW=1 leaves out the sanitizer soak and the fuzzers (quick local runs).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${MORVIK_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash scripts/setup-resources.sh

slow=1
if [ "${MORVIK_SKIP_SLOW:-0}" = 1 ]; then slow=0; fi

# The soak and the sanitizer tests share one sanitizer build, made here before either runs.
bash scripts/build-asan.sh

# The soak takes minutes of wall time but little processor: it runs beside the rest.
soak_status=0
if [ $slow = 1 ]; then
  bash scripts/soak.sh >build/soak.log 2>&1 &
  soak_pid=$!
fi

fuzz_status=0
if [ $slow = 1 ]; then
  bash scripts/fuzz.sh || fuzz_status=$?
fi

# The client's OpenGL tests draw into a virtual X server with Mesa's software renderer. Its
# display number starts high and at random: X servers of other sandboxes on this machine share
# the abstract socket names, and their lock files are not seen here. An X server resets itself
# whenever its last client leaves and drops the connections that come meanwhile; the tests'
# processes come and go all the time, so it must not (-noreset).
export LIBGL_ALWAYS_SOFTWARE=1
xvfb=(xvfb-run -a -n "$((1000 + RANDOM % 30000))" -s "-screen 0 1024x768x24 -noreset")

# Every test runs once: a failure counts. Should the X server still refuse a connection, the
# tests retry only that opening and say so.
echo "== all tests"
ctest_status=0
"${xvfb[@]}" ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300 ||
  ctest_status=$?

sanitizer_status=0
"${xvfb[@]}" bash scripts/test-sanitizers.sh || sanitizer_status=$?

if [ $slow = 1 ]; then
  wait "$soak_pid" || soak_status=$?
  cat build/soak.log
fi

verdict() { [ "$1" = 0 ] && echo passed || echo FAILED; }
echo "fuzz: $(verdict $fuzz_status), soak: $(verdict $soak_status)," \
  "tests: $(verdict $ctest_status), sanitizer tests: $(verdict $sanitizer_status)"
[ $fuzz_status = 0 ] && [ $soak_status = 0 ] && [ $ctest_status = 0 ] && [ $sanitizer_status = 0 ]
