#!/usr/bin/env bash
# Makes the small pictures of platform/gui/picture/testdata (the picture
# tests' fixtures) and copies them into the fuzz corpora
# fuzz/corpus/picture_<format>/. Needs a C++ compiler, pkg-config, Qt 6 Gui
# and libjpeg headers (build-essential, pkg-config, qt6-base-dev,
# libjpeg62-turbo-dev).
#
#   platform/gui/picture/testdata/make-picture-seeds.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

c++ -std=c++20 -O1 -fPIC -o "$work/make_picture_seeds" "$here/make_picture_seeds.cpp" \
  $(pkg-config --cflags --libs Qt6Gui) -ljpeg
QT_QPA_PLATFORM=offscreen "$work/make_picture_seeds" "$here"

corpus="$root/fuzz/corpus"
copy() {  # copy FORMAT FILE...
  local dir="$corpus/picture_$1"
  shift
  mkdir -p "$dir"
  for f in "$@"; do cp "$here/$f" "$dir/"; done
}
copy jpeg photo.jpg gray.jpg cmyk.jpg progressive.jpg
copy gif still.gif anim.gif
copy bmp rgb24.bmp pal8.bmp rle8.bmp
copy ico icon.ico cursor.cur png-entry.ico
copy pcx pal8.pcx rgb24.pcx mono.pcx ega16.pcx
