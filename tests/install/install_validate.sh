#!/usr/bin/env bash
# The installed desktop entry, metainfo and manual pages pass their validators; the changelog
# starts at this version.
source "$(dirname "$0")/common.sh" "$@"

prefix="$scratch/prefix"
install_to "$prefix"

if [[ $gui == 1 ]]; then
  need_tool desktop-file-validate desktop-file-utils
  need_tool appstreamcli appstream
  desktop="$prefix/share/applications/$app_id.desktop"
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
  grep -qx 'Exec=tessaly %F' "$desktop" || fail "$desktop does not start tessaly with the files"
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [[ -f $prefix/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no icon named $icon"
  appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli rejects the metainfo"
fi
need_tool groff groff-base
for page in tessaly-cli $([[ $gui == 1 ]] && echo tessaly); do
  manual="$prefix/share/man/man1/$page.1.gz"
  # groff reports what it could not lay out as warnings on standard error, yet exits 0.
  warnings=$(zcat "$manual" | groff -man -ww -z 2>&1) || fail "groff failed on $manual: $warnings"
  [[ -z $warnings ]] || fail "groff warns about $manual: $warnings"
  # Read whole: grep -q or head would leave zcat writing into a closed pipe, and under
  # pipefail its SIGPIPE fails the check at random once the page outgrows one write.
  grep -q "^\.TH .*\"Tessaly $version\"" <<< "$(zcat "$manual")" ||
    fail "$manual does not name version $version"
done
changelog="$prefix/share/doc/tessaly/changelog.gz"
[[ $(zcat "$changelog" | sed -n 1p) == "tessaly ($version) "* ]] ||
  fail "data/changelog does not begin with an entry for version $version"
# Every long option the program lists in --help is documented in its manual page.
documents_options() {
  local program=$1 manual option
  manual=$(zcat "$prefix/share/man/man1/$1.1.gz")
  for option in $("$prefix/bin/$program" --help | grep -oE -- '--[a-z0-9][a-z0-9-]*' | sort -u); do
    grep -qF -- "${option//-/\\-}" <<< "$manual" ||
      fail "$program --help lists $option, which data/man/$program.1.in does not document"
  done
}
documents_options tessaly-cli
echo "validators passed"
