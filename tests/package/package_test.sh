#!/usr/bin/env bash
# Makes the Debian package of a build folder, unpacks it into a clean folder and checks what it
# installs (programs, links, manual pages, desktop entry, AppStream metadata, icon, copyright,
# changelog), its control fields, the program's hardening, lintian (pedantic), appstreamcli and
# desktop-file-validate (no error, no warning), and that the installed programs run and the window
# reads its settings where earlier versions kept them.
#   package_test.sh <build folder> <cpack> <version> [<build type>]
set -euo pipefail
BUILD=$1 CPACK=$2 VERSION=$3 BUILD_TYPE=${4:-}
ID=example.vesktarvelo.VeskTarvelo
SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

fail() { echo "FAIL: $*" >&2 && exit 1; }
# gzip -9 without a name or a time stamp (flags and time zero, "best compression"): reproducible.
expect_gzip_9n() {
  local header
  header=$(od -An -tx1 -N9 "$1" | tr -d ' \n')
  [[ $header == 1f8b08000000000002 ]] || fail "${1#"$ROOT"/} is not compressed with gzip -9n (header $header)"
}
expect_manual() {  # file title text...: compressed as above, the title names the version, every text in it
  local page
  [[ -f $1 ]] || fail "no ${1#"$ROOT"/}"
  expect_gzip_9n "$1"
  page=$(zcat "$1")
  grep -q "^\.TH $2 1 .*\"VeskTarvelo $VERSION\"" <<<"$page" || fail "the manual page $2 does not name $VERSION"
  for text in "${@:3}"; do grep -qF -- "$text" <<<"$page" || fail "the manual page $2 lacks $text"; done
}
expect_clean() {  # complaint-pattern name command...: its report shown, no error or warning in it
  local rc=0
  "${@:3}" >"$WORK/$2.out" 2>&1 || rc=$?
  echo "$2:" && sed 's/^/  /' "$WORK/$2.out"
  ((rc == 0)) && ! grep -Eq "$1" "$WORK/$2.out" || fail "$2 reports errors or warnings (status $rc)"
}
expect_version() {  # program name: run with no environment (no display), "<name> <version>", no stderr
  local rc=0
  env -i "$1" --version >"$WORK/$2.out" 2>"$WORK/$2.err" || rc=$?
  ((rc == 0)) || fail "the installed $(basename "$1") --version ended with status $rc: $(cat "$WORK/$2.err")"
  [[ $(cat "$WORK/$2.out") == "$2 $VERSION" && ! -s $WORK/$2.err ]] ||
    fail "$(basename "$1") --version printed \"$(cat "$WORK/$2.out")\" and \"$(cat "$WORK/$2.err")\""
  echo "installed: $(cat "$WORK/$2.out")"
}
has() { grep -q "$@"; }  # has [grep options] pattern file || fail ...

for tool in dpkg-deb dpkg-shlibdeps dpkg-parsechangelog lintian appstreamcli desktop-file-validate readelf strace; do
  command -v "$tool" >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh test installs it)"
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vesk-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The package, made into the temporary folder (cpack stages its files there too).
"$CPACK" --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log" >&2 && fail "cpack failed"; }
shopt -s nullglob
debs=("$WORK"/out/*.deb)
((${#debs[@]} == 1)) || fail "expected one .deb, found ${#debs[@]}"
DEB=${debs[0]}
echo "package: $(basename "$DEB")"

# Control fields; Depends comes from dpkg-shlibdeps, so it names Qt's libraries.
field() { dpkg-deb -f "$DEB" "$1"; }
for pair in Package=vesktarvelo "Version=$VERSION" Section=electronics Priority=optional \
  "Maintainer=VeskTarvelo developers <maintainers@vesktarvelo.example>" Homepage=https://vesktarvelo.example/; do
  [[ $(field "${pair%%=*}") == "${pair#*=}" ]] || fail "${pair%%=*} is \"$(field "${pair%%=*}")\", not \"${pair#*=}\""
done
DEPENDS=$(field Depends)
echo "depends: $DEPENDS"
for lib in libqt6widgets6 libqt6serialport6 libqt6network6 libc6 qt6-qpa-plugins; do
  [[ $DEPENDS == *"$lib"* ]] || fail "Depends lacks $lib"
done
# The synopsis, then packaging/description.txt in the control file's form (" " lead, " ." empty line).
DESCRIPTION=$(field Description)
EXPECTED=$(printf 'Modbus master test tool\n' && sed 's/^$/./; s/^/ /' "$SOURCE/packaging/description.txt")
[[ $DESCRIPTION == "$EXPECTED" ]] || fail $'the description is\n'"$DESCRIPTION"$'\ninstead of\n'"$EXPECTED"

# The files, unpacked into a clean folder.
ROOT=$WORK/root
mkdir "$ROOT" && dpkg -x "$DEB" "$ROOT"
BIN=$ROOT/usr/bin/VeskTarvelo LINK=$ROOT/usr/bin/vesktarvelo CLI=$ROOT/usr/bin/vesktarvelo-cli
MAN=$ROOT/usr/share/man/man1 DOC=$ROOT/usr/share/doc/vesktarvelo
DESKTOP=$ROOT/usr/share/applications/$ID.desktop METAINFO=$ROOT/usr/share/metainfo/$ID.metainfo.xml
ICON=$ROOT/usr/share/icons/hicolor/scalable/apps/$ID.svg
[[ -f $BIN && ! -L $BIN && -x $BIN ]] || fail "no executable file usr/bin/VeskTarvelo"
# The settings file is named for the executable the process runs: the lower-case command must be a
# link to it, not a copy or a renamed program, or the settings would move.
[[ -L $LINK && $(readlink "$LINK") == VeskTarvelo ]] || fail "usr/bin/vesktarvelo is not a link to VeskTarvelo"
[[ -L $MAN/VeskTarvelo.1.gz && $(readlink "$MAN/VeskTarvelo.1.gz") == vesktarvelo.1.gz ]] ||
  fail "usr/share/man/man1/VeskTarvelo.1.gz is not a link to vesktarvelo.1.gz"
for f in "$DESKTOP" "$METAINFO" "$ICON" "$DOC/copyright" "$DOC/changelog.gz"; do [[ -f $f ]] || fail "no ${f#"$ROOT"/}"; done
[[ ! -e $ROOT/usr/share/applications/vesktarvelo.desktop ]] || fail "the old desktop entry is still installed"
has "<svg" "$ICON" || fail "the icon is no SVG"
expect_gzip_9n "$DOC/changelog.gz"
expect_manual "$MAN/vesktarvelo.1.gz" VESKTARVELO '\-h' '\-\-help' '\-V' '\-\-version' 'EXIT STATUS' 'VeskTarvelo.conf'

# The copyright file, machine-readable, with the holder and the licence.
for line in "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
  "Copyright: 2026 VeskTarvelo developers" "License: Expat"; do
  has -xF "$line" "$DOC/copyright" || fail "the copyright file lacks $line"
done
# The changelog's and the metadata's latest release are this version.
zcat "$DOC/changelog.gz" >"$WORK/changelog"
log() { dpkg-parsechangelog -l "$WORK/changelog" -S "$1"; }
[[ $(log Version) == "$VERSION" ]] || fail "the changelog's latest entry is $(log Version), not $VERSION"
[[ $(log Maintainer) == "$(field Maintainer)" ]] || fail "the changelog's latest entry is not signed by the maintainer"
RELEASE=$(grep -o '<release version="[^"]*"' "$METAINFO" | head -1)
[[ $RELEASE == "<release version=\"$VERSION\"" ]] || fail "the metadata's latest release is $RELEASE"
# The desktop entry starts the lower-case command and matches the window; the metadata launches it.
for line in "Name=VeskTarvelo" "GenericName=Modbus Master Test Tool" "Exec=vesktarvelo" "Icon=$ID" \
  "StartupWMClass=VeskTarvelo" "Categories=Development;Engineering;"; do
  has -xF "$line" "$DESKTOP" || fail "the desktop entry lacks $line"
done
has "^Keywords=.*Modbus;" "$DESKTOP" || fail "the desktop entry has no keywords"
for line in "<id>$ID</id>" "<launchable type=\"desktop-id\">$ID.desktop</launchable>" '<screenshot type="default">'; do
  has -F "$line" "$METAINFO" || fail "the metadata lacks $line"
done

# The hardening lintian only mentions (it warns, and so fails below, of no PIE or no RELRO), read
# from the program (read whole: grep -q would end the pipe early and fail it).
has -E "FLAGS.*(BIND_NOW| NOW)" <<<"$(readelf -dW "$BIN")" || fail "the program's relocations are not bound at start-up"
SYMBOLS=$(readelf --dyn-syms -W "$BIN")
has "__stack_chk_fail" <<<"$SYMBOLS" || fail "the program is built without the stack protector"
# Fortification needs an optimising build.
[[ -z $BUILD_TYPE || $BUILD_TYPE == Debug ]] || has -E "__[a-z_]+_chk@" <<<"$SYMBOLS" ||
  fail "the program uses no fortified functions"

# The distribution's checkers (lintian's information and pedantic tags are shown, not failed on;
# appstreamcli without the network: the screenshot's address is a placeholder).
expect_clean '^[EW]: ' lintian lintian --pedantic --display-info --fail-on error,warning "$DEB"
expect_clean '^[EW]: ' appstreamcli appstreamcli validate --no-net --pedantic --no-color "$METAINFO"
expect_clean 'error:|warning:' desktop-file-validate desktop-file-validate "$DESKTOP"

# The installed programs: the window through the lower-case command, the command-line client with
# its manual page.
expect_version "$LINK" VeskTarvelo
[[ -x $CLI && ! -L $CLI ]] || fail "no usr/bin/vesktarvelo-cli"
expect_manual "$MAN/vesktarvelo-cli.1.gz" VESKTARVELO-CLI '\-\-help' '\-\-version' 'EXIT STATUS'
expect_version "$CLI" vesktarvelo-cli

# Started through the link (offscreen, stopped after a few seconds, its file calls traced), the
# window reads VeskTarvelo/VeskTarvelo.conf, the file earlier versions wrote, and looks for no other.
H=$WORK/home
mkdir -p "$H/.config/VeskTarvelo" "$H/runtime" && chmod 700 "$H/runtime"
printf '[main]\nhost=127.0.0.1\n' >"$H/.config/VeskTarvelo/VeskTarvelo.conf"
rc=0
env -i HOME="$H" XDG_CONFIG_HOME="$H/.config" XDG_RUNTIME_DIR="$H/runtime" QT_QPA_PLATFORM=offscreen \
  "$(command -v strace)" -f -qq -e trace=%file -o "$WORK/strace.out" \
  "$(command -v timeout)" -s TERM -k 2 8 "$LINK" >"$WORK/window.out" 2>&1 || rc=$?
# Stopped by the time-out (124) is the expected end: the window was open.
((rc == 124)) || { cat "$WORK/window.out" >&2 && fail "the installed program ended by itself (status $rc)"; }
has "/\.config/VeskTarvelo/VeskTarvelo\.conf\", O_RDONLY" "$WORK/strace.out" ||
  fail "the program started as vesktarvelo did not read .config/VeskTarvelo/VeskTarvelo.conf"
OTHERS=$(grep -o '/\.config/VeskTarvelo/[^"]*\.conf"' "$WORK/strace.out" | grep -v '/VeskTarvelo\.conf"$' | sort -u || true)
[[ -z $OTHERS ]] || fail "the program started as vesktarvelo looked for its settings elsewhere: $OTHERS"
echo "settings read from .config/VeskTarvelo/VeskTarvelo.conf"
echo "PASS"
