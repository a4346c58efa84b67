#!/usr/bin/env bash
# Regenerates the README's screenshots, docs/images/*.png, from the real app under Wine: the
# end-to-end driver's --screenshots mode starts plan_desk.exe on a scratch data folder with one
# account, enters a few example rules as an operator would, and takes the login window, the main
# window, both rule editors, the manual backup and restore window and the preview of a clean rule.
# Then the main window and the preview once more at 150 % (LogPixels 144, in a scratch copy of the
# Wine prefix): main_window_144dpi.png and clean_preview_144dpi.png.
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

dpi_prefix="$PLAN_DESK_CACHE/wineprefix-144dpi"
dpi_shots=$(mktemp -d)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$dpi_prefix" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$dpi_prefix" "$dpi_shots"
  stop_display
}
trap cleanup EXIT
ensure_display
mkdir -p "$out"
wine "$build/win/bin/e2e_tests.exe" --screenshots "$(winepath -w "$out" 2>/dev/null)"
wineserver -k >/dev/null 2>&1 || true  # the copy below takes a prefix nobody writes to

rm -rf "$dpi_prefix"
cp -a "$WINEPREFIX" "$dpi_prefix"
export WINEPREFIX="$dpi_prefix"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
wineserver -w
wine "$build/win/bin/e2e_tests.exe" --screenshots "$(winepath -w "$dpi_shots" 2>/dev/null)"
cp "$dpi_shots/main_window.png" "$out/main_window_144dpi.png"
cp "$dpi_shots/clean_preview.png" "$out/clean_preview_144dpi.png"
echo "screenshots at 144 DPI: $out/main_window_144dpi.png $out/clean_preview_144dpi.png"
