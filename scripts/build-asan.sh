#!/usr/bin/env bash
# Builds build-asan/ (AddressSanitizer + UndefinedBehaviorSanitizer): the unit tests, the server,
# the soak and its leak-check library. The soak and the sanitizer tests both run from it;
# scripts/test.sh builds it once before either starts.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVIK_SANITIZE=address,undefined \
  >/dev/null
cmake --build build-asan --target common_tests server_tests client_tests server soak lsan-at-exit
