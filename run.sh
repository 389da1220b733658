#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Netzspurer in its
# workspace: the folder given as the first argument, else ~/Netzspurer. The
# projects, their results pages and the help folder live there.
set -euo pipefail
cd "$(dirname "$0")"
src=$(pwd)
./scripts/install-packages.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETZSPURER_GUI=ON
# Only the programs: the tests and benchmarks are test.sh's to build.
cmake --build build -j"$(nproc)" --target netzspurer netzspurer-crawl

workspace=${1:-"$HOME/Netzspurer"}
mkdir -p "$workspace"
if [ ! -f "$workspace/help/default.htm" ]; then
  mkdir -p "$workspace/help"
  cp -r "$src/resources/help/." "$workspace/help/"
fi

cd "$workspace"
exec "$src/build/netzspurer"
