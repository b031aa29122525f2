#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# MORVIK_FUZZ_SECONDS (default 60), all at once, starting from the committed seeds in
# tools/fuzz/corpus/. Any crash, leak or sanitizer report fails; the input that caused it is
# left in build-fuzz/fuzz-<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${MORVIK_FUZZ_SECONDS:-60}
dir=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVIK_FUZZ=ON -DMORVIK_SANITIZE=fuzzer-no-link,address,undefined >/dev/null

# target:seed folder:longest input
all=(fuzz_frame_stream:stream:16384 fuzz_server_receive:server:8192 fuzz_client_receive:client:8192)
known=$(ninja -C "$dir" -t targets all)
targets=()
for entry in "${all[@]}"; do
  name=${entry%%:*}
  if grep -q "^$name: phony" <<<"$known"; then
    targets+=("$entry")
  else
    echo "fuzz: $name is not built in this tree"
  fi
done
names=()
for entry in "${targets[@]}"; do names+=("${entry%%:*}"); done
cmake --build "$dir" --target "${names[@]}"

# The client's ships load their textures: the client target draws into a virtual X server
# with Mesa's software renderer, and finds Resources/ beside its working directory.
ln -sfn ../Resources "$dir/Resources"
export LIBGL_ALWAYS_SOFTWARE=1
# On the calling thread: LeakSanitizer's scan now and then crashes on the thread-local storage
# of the renderer's worker threads (see scripts/test-sanitizers.sh).
export LP_NUM_THREADS=0
export LSAN_OPTIONS="suppressions=$PWD/tools/fuzz/lsan-suppressions.txt:print_suppressions=0"

# Runs one target in its folder; stdout carries the programs' console lines for every bad
# frame and is dropped.
run_target() {
  local name=$1 seeds=$2 maxlen=$3
  local display=()
  for attempt in 1 2 3; do
    if [ "$name" = fuzz_client_receive ]; then
      # A high, random display number: see scripts/test.sh. A display that another sandbox
      # holds cannot be opened; another number is tried then.
      display=(xvfb-run -a -n "$((1000 + RANDOM % 30000))" -s "-screen 0 640x480x24 -noreset")
    fi
    local status=0
    "${display[@]}" "../bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len="$maxlen" -close_fd_mask=1 -print_final_stats=1 \
      corpus "$PWD/../../tools/fuzz/corpus/$seeds" >log.txt 2>&1 || status=$?
    if [ $status = 0 ] || ! grep -q "^no OpenGL context" log.txt; then
      return $status
    fi
    echo "fuzz: $name could not open its X display; trying another" >&2
  done
  return 1
}

pids=()
for entry in "${targets[@]}"; do
  IFS=: read -r name seeds maxlen <<<"$entry"
  work="$dir/fuzz-$name"
  rm -rf "$work" && mkdir -p "$work/corpus"
  (cd "$work" && run_target "$name" "$seeds" "$maxlen") &
  pids+=($!)
done

failed=0
for i in "${!pids[@]}"; do
  IFS=: read -r name _ _ <<<"${targets[$i]}"
  if wait "${pids[$i]}"; then
    echo "fuzz: $name ran ${seconds} s: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$dir/fuzz-$name/log.txt" | grep -o '[0-9]*$') inputs, no fault"
  else
    failed=1
    echo "fuzz: $name FAILED; the end of its log ($dir/fuzz-$name/log.txt):"
    tail -n 80 "$dir/fuzz-$name/log.txt"
  fi
done
exit $failed
