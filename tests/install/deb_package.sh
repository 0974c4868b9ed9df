#!/usr/bin/env bash
# The Debian package builds under its standard name, holds what a user needs, depends on what
# dpkg-shlibdeps found and on the contact sheets' font, draws no error or warning from lintian,
# and its programs run from the extracted tree.
source "$(dirname "$0")/common.sh" "$@"
need_tool dpkg-shlibdeps dpkg-dev
need_tool lintian lintian

out="$scratch/package"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" > "$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb="$out/tessaly_${version}_$(dpkg --print-architecture).deb"
[[ -f $deb ]] || { ls "$out" >&2; fail "no package named $(basename "$deb")"; }

listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | LC_ALL=C sort)
if [[ $listed != "$(expected_tree)" ]]; then
  diff <(expected_tree) <(echo "$listed") >&2 || true
  fail "the package's files differ from the expected tree (< expected, > packaged)"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libpng16-16 libopencv-imgproc libfreetype6 libgif7 fonts-dejavu-core; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
if [[ $gui == 1 && $depends != *libqt6widgets6* ]]; then
  fail "Depends lacks libqt6widgets6: $depends"
fi

# lintian's notes (I:) pass; an error or a warning, or lintian failing, does not.
status=0
lintian --fail-on error,warning "$deb" > "$scratch/lintian.log" 2>&1 || status=$?
if ((status != 0)); then
  cat "$scratch/lintian.log" >&2
  fail "lintian finds errors or warnings in $(basename "$deb") (status $status)"
fi

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
check_version() {
  local program=$1 answer
  # No display at all: asking for the version must not need one.
  answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    timeout 60 "$root/usr/bin/$program" --version) || fail "$program --version failed"
  [[ $answer == *"$version"* ]] || fail "$program --version said '$answer', not $version"
}
check_version tessaly-cli
if [[ $gui == 1 ]]; then
  [[ -x $root/usr/bin/tessaly ]] || fail "the package's tessaly is not executable"
fi
echo "$(basename "$deb") holds $(echo "$listed" | wc -l) files; Depends: $depends"
