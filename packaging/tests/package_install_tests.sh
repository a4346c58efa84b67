#!/usr/bin/env bash
# Runs the installer silently under Wine as an administrator's script would, then checks the
# installed files, the uninstall entry, the Start-menu shortcut, the logon start and the version,
# starts the installed app and sees its login window, and uninstalls: what the installer placed is
# gone (the logon start of this installation too, not one of another copy), the data folder stays
# unless /REMOVEDATA asks, and files the user added stay.
# Usage: package_install_tests.sh SOURCE_DIR SETUP_EXE PROBE_EXE VERSION STAGE_DIR SHIPPED_FILE...
set -euo pipefail
root=$1 setup=$2 probe=$3 version=$4 stage=$5
shift 5
shipped=("$@")

source "$root/scripts/env.sh"
source "$root/scripts/display.sh"
export LC_ALL="${LC_ALL:-zh_CN.UTF-8}"
# A prefix of its own: the test installs into its Program Files and HKLM and deletes its data
# folder, which must never be the folder of the other tests or of a developer's runs.
export WINEPREFIX="${WINEPREFIX%/}-packaging"
unset PLAN_DESK_HOME

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' >&2 || true
  fi
}
# Exit code and output of a command, as "rc=N" and the output's lines (without CRs).
outcome() {
  local out rc=0
  out=$("$@" 2>&1 | tr -d '\r') || rc=$?
  printf 'rc=%s\n%s' "$rc" "$out"
}
win() { wine "$@" 2>/dev/null; }
probe() { wine "$probe" "$@" 2>/dev/null; }
# C:\a\b -> the file inside this prefix.
unix_path() {
  local p=${1#[Cc]:\\}
  printf '%s/drive_c/%s' "$WINEPREFIX" "${p//\\//}"
}
listing() { (cd "$1" && ls -A | LC_ALL=C sort); }

ensure_display
if [ ! -f "$WINEPREFIX/.plan_desk_ready" ]; then
  echo "creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  win reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  touch "$WINEPREFIX/.plan_desk_ready"
fi
wineserver -p >/dev/null 2>&1 || true
trap 'wineserver -k >/dev/null 2>&1 || true; stop_display' EXIT

key='Software\Microsoft\Windows\CurrentVersion\Uninstall\plan_desk'
run_key='Software\Microsoft\Windows\CurrentVersion\Run'
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\备份与清理计划.lnk'
data='C:\users\'"$(id -un)"'\AppData\Local\plan_desk'
home='C:\plan_desk_test_home'
default_dir='C:\Program Files\plan_desk'
custom_dir='C:\Apps\备份 计划'
setup_win=$(winepath -w "$setup" 2>/dev/null)

# Start from nothing: a run that failed half-way may have left an installation behind.
win reg delete "HKLM\\$key" /f >/dev/null 2>&1 || true
win reg delete "HKCU\\$run_key" /v plan_desk /f >/dev/null 2>&1 || true
rm -rf "$(unix_path "$default_dir")" "$(unix_path 'C:\Apps')" "$(unix_path "$shortcut")" "$(unix_path "$data")" \
  "$(unix_path "$home")"
mkdir -p "$(unix_path "$home")"

installed_files=$(printf '%s\n' "${shipped[@]}" uninstall.exe | LC_ALL=C sort)

# What the uninstall entry of an installation in folder $1 holds.
expected_entry() {
  local size
  size=$(du -cb "$(unix_path "$1")"/* | tail -n 1 | cut -f 1)
  cat <<EOF
rc=0
DisplayIcon=$1\\plan_desk.exe,0
DisplayName=备份与清理计划
DisplayVersion=$version
EstimatedSize=dword:$((size / 1024))
InstallLocation=$1
NoModify=dword:1
NoRepair=dword:1
Publisher=plan_desk 开发组
QuietUninstallString="$1\\uninstall.exe" /S
UninstallString="$1\\uninstall.exe"
EOF
}

# The logon start's value, as "plan_desk=<command>", or nothing.
logon_start() { probe registry "HKCU\\$run_key" | tr -d '\r' | grep '^plan_desk=' || true; }

check_installed() {  # check_installed FOLDER
  local dir=$1 f
  expect_eq "files in $dir" "$installed_files" "$(listing "$(unix_path "$dir")")"
  for f in "${shipped[@]}"; do
    cmp -s "$(unix_path "$dir")/$f" "$stage/$f" || fail "$dir\\$f differs from the staged file"
  done
  expect_eq "uninstall entry" "$(expected_entry "$dir")" "$(outcome probe registry "$key")"
  expect_eq "Start-menu shortcut" "rc=0
target=$dir\\plan_desk.exe
arguments=
workdir=$dir
icon=$dir\\plan_desk.exe,0
description=备份与清理计划" "$(outcome probe shortcut "$shortcut")"
}

check_removed() {  # check_removed FOLDER WHAT_STAYS_IN_IT
  local dir=$1 stays=$2
  if [ -z "$stays" ]; then
    [ ! -e "$(unix_path "$dir")" ] || fail "$dir still exists: $(listing "$(unix_path "$dir")" | tr '\n' ' ')"
  else
    expect_eq "what stays in $dir" "$stays" "$(listing "$(unix_path "$dir")" 2>&1)"
  fi
  [ ! -e "$(unix_path "$shortcut")" ] || fail "the Start-menu shortcut is still there"
  expect_eq "uninstall entry after uninstalling" "rc=1
missing" "$(outcome probe registry "$key")"
}

echo "== silent install into the default folder"
expect_eq "installer exit" "rc=0" "$(outcome win "$setup" /S)"
check_installed "$default_dir"
expect_eq "logon start, on by default" "plan_desk=\"$default_dir\\plan_desk.exe\" /background" "$(logon_start)"
expect_eq "version of the installed app" "rc=0
block=080404b0
FileDescription=备份与清理计划
FileVersion=$version
ProductVersion=$version
InternalName=plan_desk
OriginalFilename=plan_desk" "$(outcome probe version "$default_dir\\plan_desk.exe")"
expect_eq "version of the installer" "rc=0
block=080403a8
FileDescription=备份与清理计划 安装程序
FileVersion=$version
ProductVersion=$version
InternalName=<missing>
OriginalFilename=<missing>" "$(outcome probe version "$setup_win")"

echo "== the installed app starts and shows its login window"
# The app inherits the probe's output: into a file, as a pipe would stay open while the app runs.
started=$(mktemp)
rc=0
PLAN_DESK_HOME=$home probe start-login "$default_dir\\plan_desk.exe" 20000 >"$started" || rc=$?
expect_eq "start the installed app" "rc=0
login window shown" "rc=$rc
$(tr -d '\r' <"$started")"
rm -f "$started"

echo "== neither side runs while the app does"
expect_eq "installer while the app runs" "rc=2" "$(outcome win "$setup" /S)"
expect_eq "uninstaller while the app runs" "rc=0
exit code 2" \
  "$(outcome probe run-tree 20000 "\"$default_dir\\uninstall.exe\" /S _?=$default_dir")"
expect_eq "files while the app runs" "$installed_files" "$(listing "$(unix_path "$default_dir")")"

expect_eq "close the login window" "rc=0
the app ended, exit code 0" "$(outcome probe close-login 20000)"
# The app kept its data where PLAN_DESK_HOME said, and nowhere else.
[ -f "$(unix_path "$home")/settings.ini" ] || fail "no settings.ini in PLAN_DESK_HOME"
[ ! -e "$(unix_path "$data")" ] || fail "the app wrote to $data although PLAN_DESK_HOME was set"
home_before=$(listing "$(unix_path "$home")")

echo "== installing again over the installation"
expect_eq "second installer exit" "rc=0" "$(outcome win "$setup" /S)"
check_installed "$default_dir"

echo "== an account in the default data folder, then the quiet uninstall"
expect_eq "plan_account add" "rc=0
account 'operator' added" "$(printf 'secret\nsecret\n' | outcome win "$default_dir\\plan_account.exe" add operator)"
quiet=$(probe registry "$key" | tr -d '\r' | sed -n 's/^QuietUninstallString=//p')
expect_eq "quiet uninstall" "rc=0
exit code 0" "$(outcome probe run-tree 30000 "$quiet")"
check_removed "$default_dir" ""
expect_eq "logon start after uninstalling" "" "$(logon_start)"
expect_eq "data folder after uninstalling" "accounts.dat" "$(listing "$(unix_path "$data")" 2>&1 | grep -v '\.lock$')"
expect_eq "PLAN_DESK_HOME after uninstalling" "$home_before" "$(listing "$(unix_path "$home")")"

echo "== silent install into a folder with a space and Chinese, without the logon start; uninstall with /REMOVEDATA"
expect_eq "installer exit, custom folder" "rc=0
exit code 0" "$(outcome probe run-tree 30000 "\"$setup_win\" /S /NOAUTOSTART /D=$custom_dir")"
check_installed "$custom_dir"
expect_eq "logon start with /NOAUTOSTART" "" "$(logon_start)"
# Another copy (a portable one) starts at logon: uninstalling this one leaves that alone.
other='"D:\portable\plan_desk.exe" /background'
win reg add "HKCU\\$run_key" /v plan_desk /d "$other" /f >/dev/null
echo "the operator's own notes" > "$(unix_path "$custom_dir")/notes.txt"
# The folder PLAN_DESK_HOME names is the user's choice: the uninstaller never deletes it.
expect_eq "quiet uninstall with /REMOVEDATA" "rc=0
exit code 0" \
  "$(PLAN_DESK_HOME=$home outcome probe run-tree 30000 "\"$custom_dir\\uninstall.exe\" /S /REMOVEDATA")"
check_removed "$custom_dir" "notes.txt"
expect_eq "another copy's logon start after uninstalling" "plan_desk=$other" "$(logon_start)"
win reg delete "HKCU\\$run_key" /v plan_desk /f >/dev/null 2>&1 || true
[ ! -e "$(unix_path "$data")" ] || fail "/REMOVEDATA left $data"
expect_eq "PLAN_DESK_HOME after /REMOVEDATA" "$home_before" "$(listing "$(unix_path "$home")")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installer: all checks passed"
