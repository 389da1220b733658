#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang into build-fuzz/ and runs each
# for SECONDS (default 60), one after the other. Each keeps its working corpus in
# build-fuzz/corpus/TARGET/ (seeded from fuzz/corpus/TARGET/) and whatever
# input made it fail in build-fuzz/findings/TARGET/. Exits non-zero when any
# target found a fault, naming it.
#
#   ./scripts/fuzz.sh [SECONDS]
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [SECONDS]   (each target for SECONDS, default 60)" >&2
  exit 2
fi

cd "$(dirname "$0")/.."

# Only what the library and the targets need: no Qt, no test libraries.
./scripts/install-packages.sh build-essential cmake pkg-config clang libclang-rt-14-dev \
  libcurl4-openssl-dev libisal-dev libbrotli-dev libzstd-dev libxxhash-dev libidn2-dev nlohmann-json3-dev

# Absolute: a target may change its working directory.
build="$PWD/build-fuzz"
fuzz="$PWD/fuzz"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNETZSPURER_FUZZ=ON -DNETZSPURER_GUI=OFF -DNETZSPURER_TESTS=OFF -DNETZSPURER_BENCH=OFF
cmake --build "$build" -j2 --target netzspurer_fuzz

targets=(fuzz_extract_links fuzz_handle_link fuzz_project_file fuzz_line_splitter)
failed=()
for target in "${targets[@]}"; do
  options=(-timeout=10)
  case "$target" in
    # Room for links past the longest URL the crawl queues.
    fuzz_extract_links) options+=(-max_len=8192 "-dict=$fuzz/links.dict") ;;
    fuzz_handle_link) options+=("-dict=$fuzz/links.dict") ;;
    fuzz_project_file) options+=("-dict=$fuzz/project.dict") ;;
  esac
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$build/logs"
  echo "== $target: $seconds s"
  if "$build/fuzz/$target" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$findings/" "$corpus" "$fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "   no fault: ${runs:-?} runs, ${rate:-?} per second"
  else
    failed+=("$target")
    echo "   FAULT: see $log; the input is in $findings/"
    grep -m1 -E 'ERROR: |broken: |runtime error' "$log" | sed 's/^/   /' || true
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Faults found by: ${failed[*]}" >&2
  exit 1
fi
echo "No faults found."
