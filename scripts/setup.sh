#!/usr/bin/env bash
# Installs what building, running and testing need on a fresh Debian 12 machine.
# Idempotent: every step checks first, so a second run costs a few seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/env.sh"

packages=(cmake make g++ g++-mingw-w64-x86-64 googletest libz-mingw-w64-dev zlib1g-dev
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick fonts-wqy-microhei locales
  clang libclang-rt-14-dev nsis zip unzip python3 procps rsync)
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

# The dialogs ask for 宋体 and MS Shell Dlg (Tahoma under Wine), which a plain prefix lacks. Map them to
# WenQuanYi Micro Hei, so Chinese renders the same whatever the locale (C.UTF-8 shows boxes otherwise).
if [ ! -f "$WINEPREFIX/.plan_desk_fonts" ]; then
  reg=$(mktemp --suffix=.reg)
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    for face in 宋体 新宋体 SimSun NSimSun; do printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"; done
    printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    link=$(printf 'wqy-microhei.ttc,WenQuanYi Micro Hei' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -s ' \n' ',' | sed 's/^,//;s/,$//')
    for face in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do printf '"%s"=hex(7):%s,00,00,00,00\r\n' "$face" "$link"; done
  } | iconv -f UTF-8 -t UTF-16 > "$reg"
  wine regedit /S "$reg" >/dev/null 2>&1
  wineserver -w || true
  rm -f "$reg"
  touch "$WINEPREFIX/.plan_desk_fonts"
fi
