#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  libboost-dev libboost-system-dev libboost-thread-dev libboost-program-options-dev
  libboost-date-time-dev
  protobuf-compiler libprotobuf-dev
  libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev
  libgl1-mesa-dev libglu1-mesa-dev libassimp-dev libpng-dev zlib1g-dev
  # the client's font, installed into Resources/ as "arial.ttf"
  fonts-liberation
  # tests: unit tests, the client under a virtual X server with software OpenGL,
  # real input through the X server, screenshots, fuzzing
  libgtest-dev xvfb xauth xdotool x11-apps imagemagick libgl1-mesa-dri mesa-utils
  clang libclang-rt-14-dev python3 util-linux procps iproute2
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
