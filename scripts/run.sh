#!/usr/bin/env bash
# Builds the project and starts plan_desk.exe under Wine on $DISPLAY. Without a display it uses a
# virtual one, saves a screenshot, names it, and closes the app after PLAN_DESK_RUN_SECONDS (default 10).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/env.sh
source scripts/display.sh
build="${PLAN_DESK_BUILD:-$root/build}"
scripts/build.sh win --target plan_desk_all
bin="$build/win/bin"
export LC_ALL="${LC_ALL:-zh_CN.UTF-8}"

# First run: create an operator account with a random password and show it once.
if [ -x "$bin/plan_account.exe" ] && ! wine "$bin/plan_account.exe" has-store >/dev/null 2>&1; then
  password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=' | head -c 12)
  printf '%s\n%s\n' "$password" "$password" | wine "$bin/plan_account.exe" add operator >/dev/null
  echo "Created the account 'operator' with the password: $password  (shown only this once)"
fi

had_display=1
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then had_display=0; fi
ensure_display
if [ "$had_display" = 1 ]; then
  exec wine "$bin/plan_desk.exe"
fi
trap 'wineserver -k >/dev/null 2>&1 || true; stop_display' EXIT
wine "$bin/plan_desk.exe" &
sleep "${PLAN_DESK_RUN_SECONDS:-10}"
mkdir -p "$root/out/screenshots"
shot="$root/out/screenshots/run-$(date +%Y%m%d-%H%M%S).png"
import -window root "$shot"
echo "screenshot: $shot"
