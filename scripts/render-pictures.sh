#!/bin/sh
# Renders the editable SVG sources into the PNG and JPEG files that the resources embed.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; run it after editing a picture and commit both.
set -eu
cd "$(dirname "$0")/../ui/resources/pictures"
for svg in src/*.svg; do
    name=$(basename "$svg" .svg)
    case "$name" in
    close_*)
        rsvg-convert "$svg" -o "/tmp/$name.png"
        /usr/bin/convert "/tmp/$name.png" -background white -flatten -quality 92 "$name.jpg"
        rm -f "/tmp/$name.png"
        ;;
    *)
        rsvg-convert "$svg" -o "$name.png"
        ;;
    esac
done
