#!/usr/bin/env bash
# Sets up a fresh machine (packages), builds, and runs the whole test suite.
# MORVIK_SKIP_INSTALL=1 skips the package step on a machine that already has them.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${MORVIK_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash scripts/setup-resources.sh

# The client's OpenGL tests draw into a virtual X server with Mesa's software renderer. Its
# display number starts high and at random: X servers of other sandboxes on this machine share
# the abstract socket names, and their lock files are not seen here.
export LIBGL_ALWAYS_SOFTWARE=1
xvfb=(xvfb-run -a -n "$((1000 + RANDOM % 30000))" -s "-screen 0 1024x768x24")

echo "== all tests"
"${xvfb[@]}" ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300

"${xvfb[@]}" bash scripts/test-sanitizers.sh
