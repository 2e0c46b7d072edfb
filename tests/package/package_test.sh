#!/usr/bin/env bash
# Makes the Debian package of a build folder, unpacks it into a clean folder
# and checks what it installs: the program and its lower-case command, the
# manual pages, the desktop entry, the AppStream metadata, the icon, the
# copyright file and the changelog; the control fields; the hardening of the
# program; lintian (pedantic), appstreamcli and desktop-file-validate, none of
# which may report an error or a warning; and that the installed program runs
# and reads its settings where earlier versions kept them.
#
#   package_test.sh <build folder> <cpack> <version> [<build type>]
set -euo pipefail

BUILD=$1
CPACK=$2
VERSION=$3
BUILD_TYPE=${4:-}
ID=example.vesktarvelo.VeskTarvelo
SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# A file compressed with gzip -9 without a name or a time stamp (bytes 3 to 8
# are the flags and the time, byte 9 says "best compression"), so that two
# builds of the same sources give the same package.
expect_gzip_9n() {  # file
  local header
  header=$(od -An -tx1 -N9 "$1" | tr -d ' \n')
  [[ $header == 1f8b08000000000002 ]] || fail "${1#"$ROOT"/} is not compressed with gzip -9n (header $header)"
}
# A manual page: compressed as above, its title names the version, and it
# mentions every text given.
expect_manual() {  # file title text...
  local page
  [[ -f $1 ]] || fail "no ${1#"$ROOT"/}"
  expect_gzip_9n "$1"
  page=$(zcat "$1")
  grep -q "^\.TH $2 1 .*\"VeskTarvelo $VERSION\"" <<<"$page" || fail "the manual page $2 does not name $VERSION"
  for text in "${@:3}"; do
    grep -qF -- "$text" <<<"$page" || fail "the manual page $2 lacks $text"
  done
}
# A checker run on a file: its report shown, and no error or warning in it.
expect_clean() {  # pattern-of-a-complaint name command...
  local rc
  set +e
  "${@:3}" >"$WORK/$2.out" 2>&1
  rc=$?
  set -e
  echo "$2:"
  sed 's/^/  /' "$WORK/$2.out"
  if ((rc != 0)) || grep -Eq "$1" "$WORK/$2.out"; then
    fail "$2 reports errors or warnings (status $rc)"
  fi
}
# An installed program run with no environment at all (no display) answers
# --version with "<name> <version>" and nothing on standard error.
expect_version() {  # program name
  local rc
  set +e
  env -i "$1" --version >"$WORK/$2.out" 2>"$WORK/$2.err"
  rc=$?
  set -e
  ((rc == 0)) || fail "the installed $(basename "$1") --version ended with status $rc: $(cat "$WORK/$2.err")"
  [[ $(cat "$WORK/$2.out") == "$2 $VERSION" && ! -s $WORK/$2.err ]] ||
    fail "$(basename "$1") --version printed \"$(cat "$WORK/$2.out")\" and \"$(cat "$WORK/$2.err")\""
  echo "installed: $(cat "$WORK/$2.out")"
}

for tool in dpkg-deb dpkg-shlibdeps dpkg-parsechangelog lintian appstreamcli desktop-file-validate readelf strace; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh test installs it)"
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vesk-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# ---- the package, made into the temporary folder (cpack stages its files there too)
if ! "$CPACK" --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log" >&2
  fail "cpack failed"
fi
shopt -s nullglob
debs=("$WORK"/out/*.deb)
((${#debs[@]} == 1)) || fail "expected one .deb, found ${#debs[@]}"
DEB=${debs[0]}
echo "package: $(basename "$DEB")"

# ---- control fields; Depends comes from dpkg-shlibdeps, so it names Qt's libraries
field() { dpkg-deb -f "$DEB" "$1"; }
expect_field() {  # name value
  [[ $(field "$1") == "$2" ]] || fail "$1 is \"$(field "$1")\", not \"$2\""
}
for pair in Package=vesktarvelo "Version=$VERSION" Section=electronics Priority=optional \
  "Maintainer=VeskTarvelo developers <maintainers@vesktarvelo.example>" Homepage=https://vesktarvelo.example/; do
  expect_field "${pair%%=*}" "${pair#*=}"
done
DEPENDS=$(field Depends)
echo "depends: $DEPENDS"
for lib in libqt6widgets6 libqt6serialport6 libqt6network6 libc6 qt6-qpa-plugins; do
  [[ $DEPENDS == *"$lib"* ]] || fail "Depends lacks $lib"
done
# The synopsis, then the extended description: packaging/description.txt
# character for character, in the control file's form (a leading space, an
# empty line written " .").
DESCRIPTION=$(field Description)
EXPECTED=$(printf 'Modbus master test tool\n'; sed 's/^$/./; s/^/ /' "$SOURCE/packaging/description.txt")
[[ $DESCRIPTION == "$EXPECTED" ]] || fail "the description is
$DESCRIPTION
instead of
$EXPECTED"

# ---- the files, unpacked into a clean folder
ROOT=$WORK/root
mkdir "$ROOT"
dpkg -x "$DEB" "$ROOT"
BIN=$ROOT/usr/bin/VeskTarvelo
LINK=$ROOT/usr/bin/vesktarvelo
MAN=$ROOT/usr/share/man/man1
DOC=$ROOT/usr/share/doc/vesktarvelo
DESKTOP=$ROOT/usr/share/applications/$ID.desktop
METAINFO=$ROOT/usr/share/metainfo/$ID.metainfo.xml
ICON=$ROOT/usr/share/icons/hicolor/scalable/apps/$ID.svg
[[ -f $BIN && ! -L $BIN && -x $BIN ]] || fail "no executable file usr/bin/VeskTarvelo"
# The settings file is named for the executable the process runs
# (VeskTarvelo.conf): the lower-case command must be a link to that file,
# not a copy or a renamed program, or the settings would move.
[[ -L $LINK && $(readlink "$LINK") == VeskTarvelo ]] || fail "usr/bin/vesktarvelo is not a link to VeskTarvelo"
[[ -L $MAN/VeskTarvelo.1.gz && $(readlink "$MAN/VeskTarvelo.1.gz") == vesktarvelo.1.gz ]] ||
  fail "usr/share/man/man1/VeskTarvelo.1.gz is not a link to vesktarvelo.1.gz"
for f in "$DESKTOP" "$METAINFO" "$ICON" "$DOC/copyright" "$DOC/changelog.gz"; do
  [[ -f $f ]] || fail "no ${f#"$ROOT"/}"
done
[[ ! -e $ROOT/usr/share/applications/vesktarvelo.desktop ]] || fail "the old desktop entry is still installed"
grep -q "<svg" "$ICON" || fail "the icon is no SVG"

expect_gzip_9n "$DOC/changelog.gz"
# The manual page names the version and documents every option.
expect_manual "$MAN/vesktarvelo.1.gz" VESKTARVELO '\-h' '\-\-help' '\-V' '\-\-version' 'EXIT STATUS' 'VeskTarvelo.conf'

# The copyright file in the machine-readable format, with the licence text.
grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$DOC/copyright" ||
  fail "the copyright file is not machine-readable"
grep -qx "Copyright: 2026 VeskTarvelo developers" "$DOC/copyright" || fail "the copyright file lacks the holder"
grep -qx "License: Expat" "$DOC/copyright" || fail "the copyright file does not name the licence"

# The changelog's and the metadata's latest release are this version.
zcat "$DOC/changelog.gz" >"$WORK/changelog"
[[ $(dpkg-parsechangelog -l "$WORK/changelog" -S Version) == "$VERSION" ]] ||
  fail "the changelog's latest entry is $(dpkg-parsechangelog -l "$WORK/changelog" -S Version), not $VERSION"
[[ $(dpkg-parsechangelog -l "$WORK/changelog" -S Maintainer) == "$(field Maintainer)" ]] ||
  fail "the changelog's latest entry is not signed by the maintainer"
RELEASE=$(grep -o '<release version="[^"]*"' "$METAINFO" | head -1)
[[ $RELEASE == "<release version=\"$VERSION\"" ]] || fail "the metadata's latest release is $RELEASE"

# The desktop entry starts the lower-case command and matches the window.
for line in "Name=VeskTarvelo" "GenericName=Modbus Master Test Tool" "Exec=vesktarvelo" "Icon=$ID" \
  "StartupWMClass=VeskTarvelo" "Categories=Development;Engineering;"; do
  grep -qxF "$line" "$DESKTOP" || fail "the desktop entry lacks $line"
done
grep -q "^Keywords=.*Modbus;" "$DESKTOP" || fail "the desktop entry has no keywords"
grep -qF "<id>$ID</id>" "$METAINFO" || fail "the metadata's id is not $ID"
grep -qF "<launchable type=\"desktop-id\">$ID.desktop</launchable>" "$METAINFO" || fail "the metadata does not launch $ID.desktop"
grep -q "<screenshot type=\"default\">" "$METAINFO" || fail "the metadata has no screenshot"

# ---- hardening, read from the program itself (read whole: grep -q would
# end the pipe early and fail it)
HEADER=$(readelf -h "$BIN")
SEGMENTS=$(readelf -lW "$BIN")
DYNAMIC=$(readelf -dW "$BIN")
SYMBOLS=$(readelf --dyn-syms -W "$BIN")
grep -q "Type:.*DYN" <<<"$HEADER" || fail "the program is not position-independent"
grep -q GNU_RELRO <<<"$SEGMENTS" || fail "the program has no read-only relocations"
grep -Eq "FLAGS.*(BIND_NOW| NOW)" <<<"$DYNAMIC" || fail "the program's relocations are not bound at start-up"
grep -q "__stack_chk_fail" <<<"$SYMBOLS" || fail "the program is built without the stack protector"
# Fortification needs an optimising build (a Debug build leaves it out).
if [[ -n $BUILD_TYPE && $BUILD_TYPE != Debug ]]; then
  grep -Eq "__[a-z_]+_chk@" <<<"$SYMBOLS" || fail "the program uses no fortified functions"
fi

# ---- the distribution's checkers: no error, no warning
# lintian: information and pedantic tags are shown, not failed on.
expect_clean '^[EW]: ' lintian lintian --pedantic --display-info --fail-on error,warning "$DEB"
# appstreamcli: without the network (the screenshot's address is a placeholder).
expect_clean '^[EW]: ' appstreamcli appstreamcli validate --no-net --pedantic --no-color "$METAINFO"
expect_clean 'error:|warning:' desktop-file-validate desktop-file-validate "$DESKTOP"

# ---- the installed program
# Through the lower-case command.
expect_version "$LINK" VeskTarvelo

# The command-line client: installed next to it with its manual page, and it
# runs with no environment at all.
CLI=$ROOT/usr/bin/vesktarvelo-cli
[[ -x $CLI && ! -L $CLI ]] || fail "no usr/bin/vesktarvelo-cli"
expect_manual "$MAN/vesktarvelo-cli.1.gz" VESKTARVELO-CLI '\-\-help' '\-\-version' 'EXIT STATUS'
expect_version "$CLI" vesktarvelo-cli

# Started through the link, the window (on the offscreen platform) reads its
# settings from VeskTarvelo/VeskTarvelo.conf, the file earlier versions wrote,
# and looks for no other. It is stopped after a few seconds; strace records
# the files it touched.
HOME_DIR=$WORK/home
mkdir -p "$HOME_DIR/.config/VeskTarvelo" "$HOME_DIR/runtime"
chmod 700 "$HOME_DIR/runtime"
printf '[main]\nhost=127.0.0.1\n' >"$HOME_DIR/.config/VeskTarvelo/VeskTarvelo.conf"
set +e
env -i HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_RUNTIME_DIR="$HOME_DIR/runtime" \
  QT_QPA_PLATFORM=offscreen "$(command -v strace)" -f -qq -e trace=%file -o "$WORK/strace.out" \
  "$(command -v timeout)" -s TERM -k 2 8 "$LINK" >"$WORK/window.out" 2>&1
rc=$?
set -e
# Stopped by the time-out (124) is the expected end: the window was open.
if ((rc != 124)); then
  cat "$WORK/window.out" >&2
  fail "the installed program ended by itself (status $rc) instead of showing its window"
fi
grep -q "/\.config/VeskTarvelo/VeskTarvelo\.conf\", O_RDONLY" "$WORK/strace.out" ||
  fail "the program started as vesktarvelo did not read .config/VeskTarvelo/VeskTarvelo.conf"
OTHERS=$(grep -o '/\.config/VeskTarvelo/[^"]*\.conf"' "$WORK/strace.out" | grep -v '/VeskTarvelo\.conf"$' | sort -u || true)
[[ -z $OTHERS ]] || fail "the program started as vesktarvelo looked for its settings elsewhere: $OTHERS"
echo "settings read from .config/VeskTarvelo/VeskTarvelo.conf"
echo "PASS"
