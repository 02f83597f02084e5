#!/usr/bin/env bash
# make_icon.sh [OUT.ico]: draws the programs' icon with ImageMagick (Debian's imagemagick) and
# writes it as a Windows icon of 16, 24, 32, 48 and 256 pixels (default: pelorin_worker.ico
# beside this script). The picture: a trajectory that climbs and then falls to its baseline,
# white on a blue rounded square. The small sizes are drawn with bolder strokes so the line
# survives at 16 pixels. The icon is committed; run this only to change it.
set -euo pipefail
out=${1:-$(dirname "$0")/pelorin_worker.ico}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# draw FILE CORNER_RADIUS STROKE_WIDTH POLYLINE [EXTRA_DRAW...]: one 256-pixel master picture.
draw() {
  local file=$1 radius=$2 stroke=$3 line=$4
  shift 4
  convert -size 256x256 gradient:'#3b82f6'-'#1e3a8a' \
    \( -size 256x256 xc:none -fill white -draw "roundrectangle 0,0 255,255 $radius,$radius" \) \
    -alpha set -compose DstIn -composite -compose Over \
    -fill none -stroke white -strokewidth "$stroke" \
    -draw "stroke-linecap round stroke-linejoin round polyline $line" "$@" "$file"
}
draw "$tmp/fine.png" 52 20 '50,164 82,116 108,146 146,52 176,112 204,190' \
  -stroke 'rgba(255,255,255,0.5)' -strokewidth 12 -draw 'stroke-linecap round line 48,204 208,204' \
  -stroke none -fill white -draw 'circle 204,190 204,212'
draw "$tmp/bold.png" 40 34 '44,176 86,110 116,150 150,46 206,198'

sizes=()
for size in 16 24; do
  convert "$tmp/bold.png" -resize "${size}x$size" -depth 8 "$tmp/$size.png"
  sizes+=("$tmp/$size.png")
done
for size in 32 48 256; do
  convert "$tmp/fine.png" -resize "${size}x$size" -depth 8 "$tmp/$size.png"
  sizes+=("$tmp/$size.png")
done
convert "${sizes[@]}" -depth 8 "$out"
echo "wrote $out"
