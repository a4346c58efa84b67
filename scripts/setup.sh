#!/usr/bin/env bash
# Installs what building, running and testing need on a fresh Debian 12 machine.
# Idempotent: every step checks first, so a second run costs a few seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/env.sh"

packages=(cmake make g++ g++-mingw-w64-x86-64 googletest libz-mingw-w64-dev zlib1g-dev
  wine wine64 xvfb xauth x11-utils imagemagick fonts-wqy-microhei locales
  clang libclang-rt-14-dev nsis zip unzip python3 procps)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The app must behave the same under a Chinese and a non-Chinese locale; both must exist.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  echo "setup: generating zh_CN.UTF-8"
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

# The Wine prefix lives outside the tree; Managed=N avoids a 2 s stall on every window destruction under Xvfb.
if [ ! -f "$WINEPREFIX/.plan_desk_ready" ]; then
  echo "setup: creating the Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w || true
  touch "$WINEPREFIX/.plan_desk_ready"
fi
