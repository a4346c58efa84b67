#!/usr/bin/env bash
# Configures and builds one of the two trees: "win" (mingw-w64, for Wine) or "native" (host g++, sanitizers).
# Usage: scripts/build.sh win|native [cmake --build arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=$1; shift
build="${PLAN_DESK_BUILD:-$root/build}/$kind"
case "$kind" in
  win) cfg=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  native) cfg=(-DCMAKE_BUILD_TYPE=Debug) ;;
  *) echo "usage: $0 win|native" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$build" "${cfg[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
