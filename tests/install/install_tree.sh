#!/usr/bin/env bash
# An install into an empty prefix gives exactly the expected files, programs executable.
source "$(dirname "$0")/common.sh" "$@"

prefix="$scratch/prefix"
install_to "$prefix"
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [[ $actual != "$(expected_tree)" ]]; then
  diff <(expected_tree) <(echo "$actual") >&2 || true
  fail "installed tree differs from the expected one (< expected, > installed)"
fi
for program in tessaly-cli $([[ $gui == 1 ]] && echo tessaly); do
  [[ -x $prefix/bin/$program ]] || fail "bin/$program is not executable"
done
for size in 16 24 32 48 64 128 256; do
  [[ $gui == 1 ]] || break
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
  # Width and height are the big-endian words at bytes 16 and 20 of a PNG file.
  dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [[ $dims == "${size}x${size}" ]] || fail "$icon is $dims, not ${size}x${size}"
done
echo "installed tree matches ($(echo "$actual" | wc -l) files)"
