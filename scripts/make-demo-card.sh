#!/usr/bin/env bash
# Builds data/demo/camera-card.img.gz, the camera card the demo recovers from: a 40 MiB
# FAT32 card whose DCIM folder held eight photos (JPEG and PNG, drawn with ImageMagick),
# three of which were then deleted.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
root=$(repo_root)
ensure_packages dosfstools mtools imagemagick gzip

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
card="$work/card.img"
export MTOOLS_SKIP_CHECK=1

mkfs.fat -C -F 32 -n CANON_DC -i 20261206 "$card" 40960 >/dev/null
mmd -i "$card" ::/DCIM ::/DCIM/100CANON

photo() {  # name, ImageMagick source, options
    local name=$1 source=$2
    shift 2
    convert "$source" "$@" -strip "$work/$name"
    touch -d "2026-08-14 10:00" "$work/$name"
    mcopy -i "$card" -m "$work/$name" "::/DCIM/100CANON/$name"
}
# Scenes drawn here, so that every picture on the card is the project's own.
photo IMG_0001.JPG -size 640x480 gradient:skyblue-white -fill gold \
      -draw "circle 500,100 540,100" -fill forestgreen \
      -draw "polygon 0,480 0,330 160,260 320,340 480,240 640,320 640,480" -quality 85
photo IMG_0002.JPG -seed 11 -size 960x720 plasma:tan-skyblue -blur 0x1 -fill seagreen \
      -draw "ellipse 480,620 520,160 180,360" -quality 90
photo IMG_0003.JPG -seed 7 -size 640x480 plasma:red-yellow -quality 88
photo IMG_0004.JPG -size 640x480 gradient:midnightblue-darkorange -fill lightyellow \
      -draw "circle 320,330 320,290" -fill black \
      -draw "polygon 0,480 0,380 120,300 260,360 400,280 640,360 640,480" -quality 85
photo IMG_0005.PNG -size 400x300 gradient:gold-darkgreen -colors 64
photo IMG_0006.JPG -size 640x480 gradient:navy-orange -swirl 120 -quality 90
photo IMG_0007.PNG -size 480x360 xc:white -fill seagreen -draw "rectangle 236,180 244,360" \
      -fill tomato -draw "circle 240,160 240,80" -fill gold -draw "circle 240,160 240,135"
photo IMG_0008.JPG -seed 23 -size 800x600 plasma:fractal -blur 0x2 -quality 85

# The bad day: three photos deleted from the card.
mdel -i "$card" ::/DCIM/100CANON/IMG_0002.JPG ::/DCIM/100CANON/IMG_0004.JPG \
     ::/DCIM/100CANON/IMG_0007.PNG

mkdir -p "$root/data/demo"
gzip -9 -n -c "$card" >"$root/data/demo/camera-card.img.gz"
ls -l "$root/data/demo/camera-card.img.gz"
