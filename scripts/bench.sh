#!/usr/bin/env bash
# Builds and runs the benchmarks: the link rules and page list, then whole
# crawls beside wget2 on generated sites served on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-packages.sh
if ! command -v wget2 >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wget2
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target crawl_bench crawl_compare
./build/crawl_bench
./build/crawl_compare "$@"
