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

# The client's OpenGL tests draw into a virtual X server with Mesa's software renderer.
export LIBGL_ALWAYS_SOFTWARE=1
ctest_status=0
xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300 || ctest_status=$?

if [ $slow = 1 ]; then
  wait "$soak_pid" || soak_status=$?
  cat build/soak.log
fi

echo "fuzz: $([ $fuzz_status = 0 ] && echo passed || echo FAILED)," \
  "soak: $([ $soak_status = 0 ] && echo passed || echo FAILED)," \
  "ctest: $([ $ctest_status = 0 ] && echo passed || echo FAILED)"
[ $fuzz_status = 0 ] && [ $soak_status = 0 ] && [ $ctest_status = 0 ]
