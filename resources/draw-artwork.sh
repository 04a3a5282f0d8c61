#!/usr/bin/env bash
# Draws the client's pictures with ImageMagick (Debian: imagemagick, fonts-dejavu-core) into this
# folder. The PNGs are committed; run this again after changing a drawing below.
set -euo pipefail
cd "$(dirname "$0")"

FONTS=/usr/share/fonts/truetype/dejavu
SERIF_BOLD=$FONTS/DejaVuSerif-Bold.ttf
SANS_BOLD=$FONTS/DejaVuSans-Bold.ttf
TITLE="Велмара"
STOP_TEXT="ОТМЕНИТЬ ОБНОВЛЕНИЕ"

BRONZE='#b08a4a'
BRONZE_DARK='#6e5330'
GOLD='#f0cd7a'


# The stop button of the splash, 244 x 32; $1 = output, $2/$3 = gradient, $4 = text colour.
stop_button() {
  local out=$1 top=$2 bottom=$3 text=$4
  convert -size 244x32 xc:none \
    \( -size 240x28 gradient:"$top"-"$bottom" \) -geometry +2+2 -composite \
    \( -size 244x32 xc:none -fill none -stroke "$BRONZE_DARK" -strokewidth 2 \
       -draw "roundrectangle 1,1 242,30 6,6" \
       -stroke "$BRONZE" -strokewidth 1 -draw "roundrectangle 3,3 240,28 5,5" \) -composite \
    \( -size 244x32 xc:black -fill white -draw "roundrectangle 0,0 243,31 7,7" \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -stroke none -font "$SANS_BOLD" -pointsize 12 -gravity center \
    -fill '#00000099' -annotate +1+1 "$STOP_TEXT" -fill "$text" -annotate +0+0 "$STOP_TEXT" \
    -strip "$out"
}

# A small ornament: a diamond with a dot, centred at $1,$2.
diamond() {
  local x=$1 y=$2 r=${3:-6}
  echo "polygon $x,$((y - r)) $((x + r)),$y $x,$((y + r)) $((x - r)),$y"
}

# --- splash background, 481 x 259 -------------------------------------------------------------
stop_button stop-normal.tmp.png '#5a2a20' '#2a110c' "$GOLD"
{
  convert -size 481x259 radial-gradient:'#3a2622'-'#120a09' \
    -fill none -stroke "$BRONZE_DARK" -strokewidth 3 -draw "rectangle 4,4 476,254" \
    -stroke "$BRONZE" -strokewidth 1 -draw "rectangle 8,8 472,250" \
    -stroke "$BRONZE_DARK" -strokewidth 1 -draw "rectangle 11,11 469,247" \
    -fill "$BRONZE" -stroke "$BRONZE_DARK" -strokewidth 1 \
    -draw "$(diamond 8 8 7)" -draw "$(diamond 472 8 7)" \
    -draw "$(diamond 8 250 7)" -draw "$(diamond 472 250 7)" \
    -fill "$GOLD" -stroke none \
    -draw "circle 8,8 8,10" -draw "circle 472,8 472,10" \
    -draw "circle 8,250 8,252" -draw "circle 472,250 472,252" \
    -fill "$BRONZE" \
    -draw "$(diamond 240 8 5)" -draw "$(diamond 240 250 5)" \
    -draw "$(diamond 8 129 5)" -draw "$(diamond 472 129 5)" \
    -stroke "$BRONZE" -strokewidth 1 \
    -draw "line 60,27 150,27" -draw "line 331,27 421,27" \
    -fill "$BRONZE" -stroke none \
    -draw "$(diamond 56 27 3)" -draw "$(diamond 425 27 3)" \
    -draw "$(diamond 154 27 2)" -draw "$(diamond 327 27 2)" \
    -fill '#1c1312' -stroke "$BRONZE_DARK" -strokewidth 1 \
    -draw "roundrectangle 34,41 446,203 4,4" \
    -fill '#403030' -stroke none -draw "rectangle 38,45 442,62" \
    -fill '#302828' -draw "rectangle 38,64 442,184" \
    -fill '#0c0807' -stroke '#4a3826' -draw "rectangle 38,190 443,199" \
    -font "$SERIF_BOLD" -pointsize 26 -gravity north -stroke none \
    -fill '#000000aa' -annotate +2+8 "$TITLE" \
    -fill "$BRONZE_DARK" -annotate +1+7 "$TITLE" \
    -fill "$GOLD" -annotate +0+6 "$TITLE" \
    -gravity northwest stop-normal.tmp.png -geometry +120+213 -composite \
    -strip splash.png
}
rm -f stop-normal.tmp.png

# --- the lighter stop button shown under the mouse, 244 x 32 ----------------------------------
stop_button stop-active.png '#8a4432' '#4a2216' '#fff0c0'

# --- the yellow progress bar, stretched to its width ------------------------------------------
convert -size 8x8 gradient:'#fff3a0'-'#d89a10' \
  -fill '#fffbe0' -draw "line 0,1 7,1" -strip progress.png

# --- the about box background, 306 x 179 ------------------------------------------------------
convert -size 306x179 gradient:'#e9d7ac'-'#b8915a' \
  -fill none -stroke "$BRONZE_DARK" -strokewidth 3 -draw "rectangle 3,3 302,175" \
  -stroke '#fff4d6' -strokewidth 1 -draw "rectangle 7,7 298,171" \
  -stroke "$BRONZE_DARK" -strokewidth 1 -draw "rectangle 9,9 296,169" \
  -fill "$BRONZE_DARK" -stroke none \
  -draw "$(diamond 7 7 6)" -draw "$(diamond 298 7 6)" \
  -draw "$(diamond 7 171 6)" -draw "$(diamond 298 171 6)" \
  -draw "$(diamond 153 7 4)" -draw "$(diamond 153 171 4)" \
  -stroke "$BRONZE_DARK" -strokewidth 1 \
  -draw "line 70,56 236,56" -draw "line 90,124 216,124" \
  -fill "$BRONZE_DARK" -stroke none \
  -draw "$(diamond 153 56 3)" -draw "$(diamond 153 124 2)" \
  -strip about.png

# --- the tab close buttons, 16 x 16 -----------------------------------------------------------
convert -size 16x16 xc:none -stroke '#6a6a6a' -strokewidth 2 \
  -draw "line 4.5,4.5 11.5,11.5" -draw "line 11.5,4.5 4.5,11.5" -strip close.png
convert -size 16x16 xc:none -fill '#c8402c' -stroke '#8a2414' -strokewidth 1 \
  -draw "roundrectangle 0.5,0.5 15.5,15.5 3,3" \
  -stroke white -strokewidth 2 \
  -draw "line 4.5,4.5 11.5,11.5" -draw "line 11.5,4.5 4.5,11.5" -strip close-hot.png

# --- the program icon: a bronze-rimmed shield with the initial, 64 x 64 -------------------------
convert -size 64x64 xc:none \
  -fill "$BRONZE_DARK" -stroke none \
  -draw "path 'M 6,6 L 58,6 L 58,30 C 58,46 44,56 32,62 C 20,56 6,46 6,30 Z'" \
  \( -size 64x64 radial-gradient:'#7a2a1e'-'#2a0e0a' \
     \( -size 64x64 xc:black -fill white \
        -draw "path 'M 10,10 L 54,10 L 54,30 C 54,43 42,52 32,57 C 22,52 10,43 10,30 Z'" \) \
     -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
  -stroke none -font "$SERIF_BOLD" -pointsize 36 -gravity center \
  -fill '#000000aa' -annotate +1-1 "В" -fill "$GOLD" -annotate +0-2 "В" \
  -strip icon.png

echo "pictures drawn in $(pwd)"
