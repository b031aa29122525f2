#!/usr/bin/env bash
# Puts the files into Resources/ that the repository does not carry: the HUD font "arial.ttf",
# a free TrueType font from Debian's fonts-liberation package (installed by install-deps.sh).
# The models and images are committed; tools/assetgen/assetgen.py remakes them.
set -euo pipefail
cd "$(dirname "$0")/.."

font=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf
if [ ! -f "$font" ] && command -v dpkg >/dev/null; then
  font=$(dpkg -L fonts-liberation 2>/dev/null | grep '/LiberationSans-Regular.ttf$' | head -n 1 || true)
fi
if [ -z "$font" ] || [ ! -f "$font" ]; then
  echo "setup-resources: LiberationSans-Regular.ttf not found (apt-get install fonts-liberation)" >&2
  exit 1
fi
if ! cmp -s "$font" Resources/arial.ttf; then
  cp "$font" Resources/arial.ttf
fi
