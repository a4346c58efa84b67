#!/usr/bin/env bash
# Builds the project and starts plan_desk.exe under Wine on $DISPLAY. Without a display it uses a
# virtual one, waits until the login window shows (at most PLAN_DESK_RUN_SECONDS, default 10), saves a
# screenshot, names it, and closes the app.
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

# The display comes before any Wine process: the wineserver that the first one starts serves every
# later one of the prefix, and one started without a display leaves the app drawing nothing.
had_display=1
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then had_display=0; fi
ensure_display
if [ "$had_display" = 0 ]; then trap 'wineserver -k >/dev/null 2>&1 || true; stop_display' EXIT; fi

# First run: create an operator account with a random password and show it once.
if [ -x "$bin/plan_account.exe" ] && ! wine "$bin/plan_account.exe" has-store >/dev/null 2>&1; then
  password=$(head -c 12 /dev/urandom | base64 | tr -d '/+=' | head -c 12)
  printf '%s\n%s\n' "$password" "$password" | wine "$bin/plan_account.exe" add operator >/dev/null
  echo "Created the account 'operator' with the password: $password  (shown only this once)"
fi

if [ "$had_display" = 1 ]; then
  exec wine "$bin/plan_desk.exe"
fi
wine "$bin/plan_desk.exe" &
login_shown() { [[ "$(LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null)" == *'"登录 - 任务计划管理"'* ]]; }
deadline=$((SECONDS + ${PLAN_DESK_RUN_SECONDS:-10}))
until login_shown || [ "$SECONDS" -ge "$deadline" ]; do sleep 0.2; done
sleep 0.5  # let it paint
mkdir -p "$root/out/screenshots"
shot="$root/out/screenshots/run-$(date +%Y%m%d-%H%M%S).png"
import -window root "$shot"
echo "screenshot: $shot"
