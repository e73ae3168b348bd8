#!/bin/sh
# Renders the shipped example's plot of the window shares in a real browser:
# runs `tavogen geno geno bywindow=11 plot` on a copy of examples/ and takes a
# headless Chromium screenshot of geno.gvar.win11.svg, written as
# regions-plot.png next to README.md (or to the file named as the argument).
# Needs the Debian package chromium (installed when missing) and a built
# build/tavogen. Not part of the tests.
set -e
cd "$(dirname "$0")/.."
out="${1:-$PWD/regions-plot.png}"
command -v chromium >/dev/null 2>&1 || { apt-get update && apt-get install -y chromium; }
[ -x build/tavogen ] || scripts/build.sh
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp examples/geno.* examples/cows.txt examples/genotypes.txt examples/markers.txt examples/markers.txt.anno "$work"/
(cd "$work" && "$OLDPWD/build/tavogen" geno geno bywindow=11 plot >/dev/null)
svg="$work/geno.gvar.win11.svg"
# The picture's own size: width and height of the svg element.
width=$(sed -n 's/.*<svg [^>]* width="\([0-9]*\)[.0-9]*".*/\1/p' "$svg")
height=$(sed -n 's/.*<svg [^>]* height="\([0-9]*\)[.0-9]*".*/\1/p' "$svg")
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size="$width,$height" \
    --screenshot="$out" "file://$svg" >/dev/null 2>&1
echo "The example's plot was rendered to $out (${width}x${height})"
