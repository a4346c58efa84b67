#!/usr/bin/env bash
# Regenerates the README's screenshots, docs/images/*.png, from the real app under Wine: the
# end-to-end driver's --screenshots mode starts plan_desk.exe on a scratch data folder with one
# account, enters a few example rules as an operator would, and takes the login window, the main
# window, both rule editors and the manual backup and restore window.
# Usage: scripts/screenshots.sh [output folder, default docs/images]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(realpath -m "${1:-$root/docs/images}")
bash scripts/setup.sh
source scripts/env.sh
source scripts/display.sh
build="${PLAN_DESK_BUILD:-$root/build}"
scripts/build.sh win --target plan_desk_all e2e_tests
# The pictures show the Chinese interface as a Chinese Windows does.
export LC_ALL=zh_CN.UTF-8

trap 'wineserver -k >/dev/null 2>&1 || true; stop_display' EXIT
ensure_display
mkdir -p "$out"
wine "$build/win/bin/e2e_tests.exe" --screenshots "$(winepath -w "$out" 2>/dev/null)"
