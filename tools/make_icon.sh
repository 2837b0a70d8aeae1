#!/bin/sh
# Draws the window's icon: a dark tile with a sound wave turning into text lines,
# as one .ico with two 32 x 32 images (16 and 256 colours).
#   tools/make_icon.sh [output.ico]     (default: shell/dls2mml.ico)
# Needs ImageMagick 6 ("convert"). The result is committed; rerun only to change it.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/shell/dls2mml.ico}
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

# Flatten on black (the window's background) so the palette images carry no
# transparency that the reduction to 16 colours could lose.
"$CONVERT" "$work/art.png" -background '#000000' -flatten -colors 16 -type Palette BMP3:"$work/i16.bmp"
"$CONVERT" "$work/art.png" -background '#000000' -flatten -colors 256 -type Palette BMP3:"$work/i256.bmp"
"$CONVERT" "$work/i16.bmp" "$work/i256.bmp" "$out"
echo "wrote $out"
