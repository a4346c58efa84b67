#!/usr/bin/env bash
# The README's headless run command, run the way a user runs it on a fresh machine: no display, no
# wineserver for the prefix yet, no account. Its screenshot must show the login window in front of
# the main window, not a black screen.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/env.sh"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
fail() { echo "run command test: $*" >&2; exit 1; }

wineserver -k >/dev/null 2>&1 || true  # nothing of Wine runs yet on a fresh machine
sleep 1
started=$SECONDS
out=$(DISPLAY= PLAN_DESK_HOME="$home" bash "$root/scripts/run.sh" 2>&1) || { echo "$out" >&2; fail "run.sh failed"; }
grep -q "^Created the account 'operator' with the password: " <<<"$out" || fail "no account was created: $out"
shot=$(sed -n 's/^screenshot: //p' <<<"$out")
[ -f "$shot" ] || fail "no screenshot: $out"

# Without a window manager Wine puts both windows at the top left; the login dialog (306 x 204
# pixels) is in front with the active caption colour, the main window's caption beside it inactive.
pixel() { convert "$shot" -format "%[pixel:p{$1}]" info:; }
expect_pixel() {
  local got; got=$(pixel "$1")
  [ "$got" = "$2" ] || fail "$3: pixel $1 is $got, expected $2 ($shot)"
}
expect_pixel 150,10 'srgb(50,150,250)' "the login window's title bar"
expect_pixel 600,10 'srgb(128,128,128)' "the main window's title bar behind it"
# The login window's face: light, with its labels, edits and buttons on it (an all-black or
# single-colour picture fails both).
read -r mean deviation < <(convert "$shot" -crop 300x170+3+25 -format '%[fx:mean] %[fx:standard_deviation]\n' info:)
awk -v m="$mean" -v d="$deviation" 'BEGIN { exit !(m > 0.8 && d > 0.05) }' ||
  fail "the login window's face has mean $mean and deviation $deviation ($shot)"
rm -f "$shot"
echo "run command test passed ($((SECONDS - started)) s)"
