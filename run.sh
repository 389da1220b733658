#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Netzspurer in its
# workspace: the folder given as the first argument, else ~/Netzspurer. The
# projects, their results pages and the help folder live there.
set -euo pipefail
cd "$(dirname "$0")"
src=$(pwd)
./scripts/install-packages.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

workspace=${1:-"$HOME/Netzspurer"}
mkdir -p "$workspace"
if [ ! -f "$workspace/help/default.htm" ]; then
  mkdir -p "$workspace/help"
  cp -r "$src/resources/help/." "$workspace/help/"
fi

if [ ! -x build/netzspurer ]; then
  echo "Built into build/ (the windowed program is not built yet)."
  exit 0
fi
cd "$workspace"
exec "$src/build/netzspurer"
