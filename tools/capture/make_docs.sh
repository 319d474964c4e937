#!/bin/sh
# Regenerates the pictures in docs/ with vorta-capture: key moments of the show, a contact
# sheet and the embedded textures, masks and end picture. Colour pictures are then reduced to
# 256-colour palettes with ImageMagick to keep the repository small (the tool itself writes
# exact RGB); the masks are exact 8-bit grey.
# Usage: tools/capture/make_docs.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target vorta-capture
capture="$build/tools/capture/vorta-capture"
docs="$root/docs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# moment NAME FROM TO: the first frame at or after FROM seconds (60 fps grid; TO just after).
moment() {
    "$capture" --fps 60 --from "$2" --to "$3" --png "$work/$1"
    cp "$work/$1/frame_00000.png" "$docs/$1.png"
}

mkdir -p "$docs/assets"
moment fade_in 6 6.01            # order 0: the tunnel rising out of black
moment flash_mask_a 30.5 30.51    # order 4: a flash dying away under the first mask set
moment second_half 76 76.01       # order 10: the second texture, turning on the beat
moment mask_c 93 93.01            # order 12: the eight-image mask set
moment end_picture 133 133.01      # order 18: the closing still
"$capture" --fps 10 --sheet "$docs/contact_sheet.png"
"$capture" --assets "$docs/assets"
for png in "$docs"/*.png "$docs"/assets/texture_*.png "$docs"/assets/end_picture.png; do
    convert "$png" -dither None -colors 256 "png8:$png"
done
du -ch "$docs"/*.png "$docs"/assets/*.png | tail -1
