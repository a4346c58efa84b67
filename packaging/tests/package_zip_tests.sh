#!/usr/bin/env bash
# The portable zip and the symbols zip: exact entries, the shipped bytes, a readme Notepad reads,
# and shipped files that are stripped but name their symbols.
# Usage: package_zip_tests.sh PACKAGE_DIR BASE_NAME VERSION STAGE_DIR SHIPPED_FILE...
set -euo pipefail
packages=$1 base=$2 version=$3 stage=$4
shift 4
shipped=("$@")
zip="$packages/$base-portable.zip"
symbols="$packages/$base-symbols.zip"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
  [ "$2" == "$3" ] || fail "$1"$'\n'"  expected: $(printf %q "$2")"$'\n'"  actual:   $(printf %q "$3")"
}

# Entries: one top folder with the files in the installer's order, then the readme; nothing else.
expected=$(printf "$base/%s\n" "${shipped[@]}" README.txt)
expect_eq "portable zip entries" "$expected" "$(unzip -Z1 "$zip")"
unzip -tq "$zip" >/dev/null || fail "portable zip does not test clean"

# The zip holds exactly the bytes the installer ships.
for f in "${shipped[@]}"; do
  unzip -p "$zip" "$base/$f" | cmp -s - "$stage/$f" || fail "$f in the zip differs from the staged file"
done

# Readme: UTF-8 with a byte-order mark, CRLF line ends only, the version in its first line.
readme=$(mktemp)
unzip -p "$zip" "$base/README.txt" > "$readme"
expect_eq "readme starts with a UTF-8 byte-order mark" "efbbbf" "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' \n')"
expect_eq "readme first line" $'\xef\xbb\xbf'"备份与清理计划 $version（64 位）便携版"$'\r' "$(head -n 1 "$readme")"
expect_eq "readme lines without CR" "0" "$(grep -c $'[^\r]$' "$readme" || true)"
expect_eq "readme ends with CRLF" "0d0a" "$(tail -c 2 "$readme" | od -An -tx1 | tr -d ' \n')"
for word in plan_account PLAN_DESK_HOME '%LOCALAPPDATA%\plan_desk'; do
  grep -qF "$word" "$readme" || fail "readme does not mention $word"
done

# Shipped files carry no debug information, only a link to their symbols file (its name and
# CRC-32), and the symbols zip holds exactly those files.
work=$(mktemp -d)
trap 'rm -f "$readme"; rm -rf "$work"' EXIT
for f in "${shipped[@]}"; do
  sections=$(x86_64-w64-mingw32-objdump -h "$stage/$f" | awk '$1 ~ /^[0-9]+$/ {print $2}')
  if grep -q '^\.debug_' <<<"$sections"; then fail "$f ships with debug sections"; fi
  x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink="$work/link" "$stage/$f" "$work/copy"
  unzip -p "$symbols" "$f.debug" > "$work/debug"
  expect_eq "$f debug link" "$f.debug crc ok" "$(python3 -c '
import sys, zlib
link = open(sys.argv[1], "rb").read()
crc = int.from_bytes(link[-4:], "little")
ok = crc == zlib.crc32(open(sys.argv[2], "rb").read())
print(link.split(b"\0")[0].decode(), "crc", "ok" if ok else "differs")' "$work/link" "$work/debug")"
done
expect_eq "symbols zip entries" "$(printf '%s.debug\n' "${shipped[@]}")" "$(unzip -Z1 "$symbols")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "portable zip and symbols: all checks passed"
