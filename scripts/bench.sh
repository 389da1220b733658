#!/usr/bin/env bash
# Builds and runs the benchmarks: the link rules and page list, then whole
# crawls beside wget2 on generated sites served on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-packages.sh
# The crawls are compared with wget2's.
./scripts/install-packages.sh wget2
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target crawl_bench crawl_compare
./build/crawl_bench
./build/crawl_compare "$@"
