#!/usr/bin/env bash
# Draws the application icon (a folder with a clock: files kept on a schedule) and writes
# plan_desk.ico with 16, 32 and 48 px images. Needs ImageMagick's convert.
# Usage: resources/make_icon.sh [output.ico]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/plan_desk.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One master drawing on a 256 px canvas; every size is scaled down from it.
convert -size 256x256 xc:none \
  -stroke '#9a6a0c' -strokewidth 6 \
  -fill '#e2a528' -draw 'roundrectangle 14,40 118,84 14,14' \
  -fill '#e2a528' -draw 'roundrectangle 14,58 242,220 16,16' \
  -fill '#f8cd4f' -draw 'roundrectangle 14,88 242,220 16,16' \
  -stroke '#1d4f91' -strokewidth 12 -fill '#ffffff' -draw 'circle 172,172 172,98' \
  -stroke '#1d4f91' -strokewidth 14 -draw 'line 172,172 172,122' \
  -stroke '#c8322a' -strokewidth 12 -draw 'line 172,172 208,188' \
  -stroke none -fill '#1d4f91' -draw 'circle 172,172 172,162' \
  "PNG32:$work/master.png"

for size in 48 32 16; do
  convert "$work/master.png" -filter Lanczos -resize "${size}x${size}" "PNG32:$work/$size.png"
done
# BMP entries (not PNG) so that every Windows version reads every size; no time stamps inside.
convert "$work/48.png" "$work/32.png" "$work/16.png" "ICO:$out"
