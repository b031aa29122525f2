#!/usr/bin/env bash
# Builds the server and the benchmark, then runs the full load benchmark (all scenarios and
# player counts; a few minutes). Extra arguments go to bench, e.g. --players 8,64 --csv out.csv
set -euo pipefail
cd "$(dirname "$0")/../.."
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-4}
bash scripts/build.sh build >/dev/null
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'), cores: $(nproc), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
exec build/bin/bench "$@"
