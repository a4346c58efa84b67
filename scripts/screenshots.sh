#!/usr/bin/env bash
# Regenerates the README's screenshots, docs/images/*.png, from the real app under Wine: a fresh
# data folder with one account and a few sample rules, then the login window, the main window,
# both rule editors and the manual backup and restore window (packaging/screenshots/screenshot_driver).
# Usage: scripts/screenshots.sh [output folder, default docs/images]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=$(realpath -m "${1:-$root/docs/images}")
bash scripts/setup.sh
source scripts/env.sh
source scripts/display.sh
build="${PLAN_DESK_BUILD:-$root/build}"
scripts/build.sh win --target plan_desk_all screenshot_driver
bin="$build/win/bin"
# The pictures show the Chinese interface as a Chinese Windows does.
export LC_ALL=zh_CN.UTF-8

work=$(mktemp -d)
trap 'stop_display; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/shots"
ensure_display
# Nothing of a developer's own data: the account and the sample rules live in a scratch folder.
PLAN_DESK_HOME=$(winepath -w "$work/home" 2>/dev/null)
export PLAN_DESK_HOME
account=操作员
password=Demo-2026
printf '%s\n%s\n' "$password" "$password" | wine "$bin/plan_account.exe" add "$account" >/dev/null
wine "$bin/screenshot_driver.exe" "$(winepath -w "$work/shots" 2>/dev/null)" "$account" "$password"

mkdir -p "$out"
for name in login main_window clean_rule_editor backup_rule_editor restore; do
  # No time stamps in the files: a picture that looks the same stays byte for byte the same.
  convert "$work/shots/$name.bmp" -strip -define png:exclude-chunks=date,time "$out/$name.png"
  echo "$out/$name.png"
done
