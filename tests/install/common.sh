# Shared by the install tests: arguments, a scratch folder removed on exit, a failure helper.
set -euo pipefail

build="" gui=0 version=""
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    --gui) gui=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[[ -n $build && -n $version ]] || { echo "usage: $0 --build DIR --gui 0|1 --version X" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

need_tool() {
  command -v "$1" > /dev/null || fail "$1 is missing (package $2; scripts/setup installs it)"
}

app_id=org.kestrelwood.tessaly

# Every file a user gets, relative to the prefix, sorted.
expected_tree() {
  {
    echo bin/tessaly-cli
    echo share/bash-completion/completions/tessaly-cli
    echo share/doc/tessaly/changelog.gz
    echo share/doc/tessaly/contact-sheet.png
    echo share/doc/tessaly/copyright
    echo share/doc/tessaly/user-guide.md
    echo share/man/man1/tessaly-cli.1.gz
    if [[ $gui == 1 ]]; then
      echo bin/tessaly
      echo share/man/man1/tessaly.1.gz
      echo "share/applications/$app_id.desktop"
      echo "share/metainfo/$app_id.metainfo.xml"
      echo "share/icons/hicolor/scalable/apps/$app_id.svg"
      for size in 16 24 32 48 64 128 256; do
        echo "share/icons/hicolor/${size}x${size}/apps/$app_id.png"
      done
    fi
  } | LC_ALL=C sort
}

install_to() {
  cmake --install "$build" --prefix "$1" > "$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install into $1 failed"; }
}
