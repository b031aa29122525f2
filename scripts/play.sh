#!/usr/bin/env bash
# Plays the game on this machine: installs the packages (skip with MORVIK_SKIP_INSTALL=1),
# builds when needed, sets up the resources, starts a local server in the background and the
# client against it. The server ends when the client does.
# Extra arguments go to the client (for example --udp-timeout 30).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${MORVIK_SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi
# Ninja rebuilds only what changed, so this is quick when the build is up to date.
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
bash scripts/setup-resources.sh

port=${MORVIK_PORT:-21042}
build/bin/server --port "$port" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$server" 2>/dev/null; then
  echo "play: the server did not start (is port $port taken? set MORVIK_PORT)" >&2
  exit 1
fi

# The client reads its files from "Resources" beside its working directory.
cd "$root/build"
status=0
./bin/client --host 127.0.0.1 --port "$port" "$@" || status=$?
exit "$status"
