#!/bin/sh
# Remakes about_qr.jpg, the picture of the About window: a QR code of our web
# address as a 132 x 132 baseline colour JPEG (3 components, 8 bits).
# Needs qrencode and ImageMagick; the build only uses the committed JPEG.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Version 2 code: 25 modules + 2 x 4 quiet-zone modules = 33 modules of
# 4 pixels, exactly 132 pixels, so no resampling blurs the module edges.
qrencode -o "$tmp/qr.png" -s 4 -m 4 'https://veldrano.org'

# -type TrueColor keeps three colour components: a black-and-white picture
# would otherwise be written as a one-component greyscale JPEG.
convert "$tmp/qr.png" -resize 132x132 -colorspace sRGB -type TrueColor \
  -quality 90 -interlace none -sampling-factor 1x1 -strip about_qr.jpg

identify -format '%m %wx%h %[channels] %z-bit %[interlace] %b\n' about_qr.jpg
