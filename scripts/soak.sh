#!/usr/bin/env bash
# Soak run: the server's AddressSanitizer build (build-asan/) for MORVIK_SOAK_MINUTES (default
# 3) with players joining, playing and leaving at random. It fails on a crash, a sanitizer
# report, a leak found at exit, or descriptors or memory that grew. MORVIK_SOAK_SEED picks
# another random sequence (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${MORVIK_SOAK_MINUTES:-3}
seed=${MORVIK_SOAK_SEED:-1}
dir=build-asan

bash scripts/build-asan.sh

# The sanitizer runtime must come first among the preloaded libraries.
preload="$(g++ -print-file-name=libasan.so):$PWD/$dir/lib/liblsan-at-exit.so"
"$dir/bin/soak" --server "$dir/bin/server" --preload "$preload" --minutes "$minutes" \
  --seed "$seed"
