#!/usr/bin/env bash
# Builds and runs the benchmarks: the link rules and page list, then whole
# crawls by netzspurer-crawl beside wget2 on generated sites and installed
# manuals served by nginx on 127.0.0.1.
#
#   scripts/bench.sh [--reps K] [--quick] [--only NAME[,NAME...]]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-packages.sh
# The crawls: wget2 to compare with, and three manuals to crawl.
./scripts/install-packages.sh wget2 python3-doc apache2-doc postgresql-doc-15
# A build of its own, without windows, keeps build/ as the tests configured it.
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETZSPURER_GUI=OFF -DNETZSPURER_TESTS=OFF
cmake --build build-bench -j"$(nproc)" --target crawl_bench crawl_compare
./build-bench/crawl_bench
./build-bench/crawl_compare "$@"
