#!/bin/sh
# Draws the window's icon: a dark tile with a sound wave turning into text lines,
# as one .ico with two 32 x 32 images (16 and 256 colours), each with a
# transparency mask.
#   tools/make_icon.sh [output.ico]     (default: shell/window/dls2mml.ico)
# Needs ImageMagick 6 ("convert"). The result is committed; rerun only to change it.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/shell/window/dls2mml.ico}
# Some machines put another "convert" first on PATH; prefer the distribution's.
CONVERT=${CONVERT:-/usr/bin/convert}
[ -x "$CONVERT" ] || CONVERT=convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$CONVERT" -size 32x32 xc:none \
  -fill '#1d3557' -stroke '#0b1a30' -strokewidth 1 -draw 'roundrectangle 0,0 31,31 5,5' \
  -fill none -stroke '#ffd166' -strokewidth 2 \
  -draw 'polyline 3,12 6,12 8,5 11,19 14,8 16,14 18,12 21,12' \
  -stroke '#ffffff' -strokewidth 1 -fill '#ffffff' \
  -draw 'polygon 22,9 27,12 22,15' \
  -stroke '#a8dadc' -strokewidth 2 \
  -draw 'line 5,22 26,22' -draw 'line 5,26 19,26' \
  "$work/art.png"

# Each image keeps a transparency mask: alpha is cut to on or off at half,
# and the colour reduction keeps the transparent pixels as their own (black)
# palette entry, so the rounded corners show the desktop behind them.
"$CONVERT" "$work/art.png" -channel A -threshold 50% +channel \
  \( -clone 0 -colors 16 -type PaletteMatte \) \
  \( -clone 0 -colors 256 -type PaletteMatte \) \
  -delete 0 "$out"
echo "wrote $out"
