#!/usr/bin/env bash
# Makes the Debian package of a build folder, unpacks it into a clean folder
# and checks what it installs: the program, its desktop entry and its icon,
# the control fields, and that the installed program runs and knows its
# version.
#
#   package_test.sh <build folder> <cpack> <version>
set -euo pipefail

BUILD=$1
CPACK=$2
VERSION=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vesk-package-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The package, made into the temporary folder (cpack stages its files there too).
if ! "$CPACK" --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log" >&2
  fail "cpack failed"
fi
shopt -s nullglob
debs=("$WORK"/out/*.deb)
((${#debs[@]} == 1)) || fail "expected one .deb, found ${#debs[@]}"
DEB=${debs[0]}
echo "package: $(basename "$DEB")"

# Control fields; Depends comes from dpkg-shlibdeps, so it names Qt's libraries.
[[ $(dpkg-deb -f "$DEB" Package) == vesktarvelo ]] || fail "Package is $(dpkg-deb -f "$DEB" Package)"
[[ $(dpkg-deb -f "$DEB" Version) == "$VERSION" ]] || fail "Version is $(dpkg-deb -f "$DEB" Version), not $VERSION"
[[ $(dpkg-deb -f "$DEB" Maintainer) == "VeskTarvelo developers" ]] || fail "Maintainer is $(dpkg-deb -f "$DEB" Maintainer)"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "depends: $DEPENDS"
for lib in libqt6widgets6 libqt6serialport6 libqt6network6 libc6 qt6-qpa-plugins; do
  [[ $DEPENDS == *"$lib"* ]] || fail "Depends lacks $lib"
done

# The files, unpacked into a clean folder.
ROOT=$WORK/root
mkdir "$ROOT"
dpkg -x "$DEB" "$ROOT"
BIN=$ROOT/usr/bin/VeskTarvelo
DESKTOP=$ROOT/usr/share/applications/vesktarvelo.desktop
ICON=$ROOT/usr/share/icons/hicolor/scalable/apps/vesktarvelo.svg
[[ -f $BIN && -x $BIN ]] || fail "no executable usr/bin/VeskTarvelo"
[[ -f $DESKTOP ]] || fail "no usr/share/applications/vesktarvelo.desktop"
[[ -f $ICON ]] || fail "no usr/share/icons/hicolor/scalable/apps/vesktarvelo.svg"
for line in "Name=VeskTarvelo" "Comment=Modbus master test tool" "Exec=VeskTarvelo" "Icon=vesktarvelo" \
  "Categories=Development;Engineering;"; do
  grep -qxF "$line" "$DESKTOP" || fail "the desktop entry lacks $line"
done
grep -q "<svg" "$ICON" || fail "the icon is no SVG"

# The installed program runs, with settings in a temporary home: --version
# prints the version and exits 0 (the application object is made first, so it
# needs a display). The display number search starts away from 99, where the
# window tests that may run at the same time start theirs.
HOME_DIR=$WORK/home
mkdir -p "$HOME_DIR/.config" "$HOME_DIR/runtime"
chmod 700 "$HOME_DIR/runtime"
set +e
HOME=$HOME_DIR XDG_CONFIG_HOME=$HOME_DIR/.config XDG_RUNTIME_DIR=$HOME_DIR/runtime \
  xvfb-run -a -n $((200 + $$ % 500)) timeout 20 "$BIN" --version >"$WORK/run.out" 2>"$WORK/run.err"
rc=$?
set -e
if ((rc != 0)); then
  cat "$WORK/run.out" "$WORK/run.err" >&2
  fail "the installed program ended with code $rc on --version"
fi
[[ $(cat "$WORK/run.out") == "VeskTarvelo $VERSION" ]] || fail "--version printed \"$(cat "$WORK/run.out")\""
echo "installed program: $(cat "$WORK/run.out")"
echo "PASS"
