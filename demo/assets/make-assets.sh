#!/usr/bin/env bash
# Remakes the demo service's pictures and MP3 tones in demo/assets/files/.
# The files are committed: the build and the tests never run this.
#
# Needs what the project builds with anyway: a C++ compiler, pkg-config and
# the Qt 6 GUI development files (qt6-base-dev), plus the WenQuanYi font
# (fonts-wqy-microhei) for the names on the pictures.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

c++ -std=c++20 -O2 -fPIC "$here/make_assets.cpp" -o "$work/make_assets" \
  $(pkg-config --cflags --libs Qt6Gui)
mkdir -p "$here/files"
QT_QPA_PLATFORM=offscreen "$work/make_assets" "$here/files"
