#!/usr/bin/env bash
# Builds the Debian package from the build tree (build/, or $COILHATCH_BUILD_DIR), installs it
# with apt-get as a user would, checks the installed plug-in and runs the editor stand-in on it
# (tests/install/check_installed.sh), then removes the package and checks that nothing is left.
# It changes the machine while it runs, so it is no test of CTest's: CI runs it after the tests.
# Needs root (it asks sudo otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
build_dir=$PWD/${COILHATCH_BUILD_DIR:-build}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
if dpkg-query -W -f='${Status}' coilhatch 2>/dev/null | grep -q "ok installed"; then
  fail "coilhatch is installed already; remove it first (apt-get remove coilhatch)"
fi

# apt-get reads the package as its own user: the folder must be open to it.
work=$(mktemp -d)
chmod 755 "$work"
installed=false
cleanup() {
  if $installed; then
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq coilhatch >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/coilhatch_*_amd64.deb)
if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no coilhatch_*_amd64.deb"
fi
deb=${debs[0]}
echo "Package: ${deb##*/}"
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"

# Owned by root, below /usr, files 0644 and folders 0755.
bad=$(dpkg-deb -c "$deb" | awk '$2 != "root/root" || $6 !~ /^\.\/usr\// ||
  ($1 !~ /^-rw-r--r--$/ && $1 !~ /^drwxr-xr-x$/)')
[ -z "$bad" ] || fail "entries of the package with another owner, place or mode:
$bad"
# Whatever the plug-in needs of the system, the editor's library aside, lies in a package it
# depends on, or in one such a package depends on: the libraries the module links, the Python it
# starts, the modules it imports.
names() { tr ',|' '\n' | awk 'NF {print $1}'; }
depends=$(dpkg-deb -f "$deb" Depends | names)
depends+=$'\n'$(for package in $depends; do
  dpkg-query -W -f='${Depends}\n' "$package" 2>/dev/null | names
done)
needed() { # needed WHAT PATH...: the first PATH that a package holds is that package's
  local path package
  for path in "${@:2}"; do
    package=$(dpkg -S "$path" 2>/dev/null) || continue
    package=${package%%:*}
    grep -qxF "$package" <<<"$depends" ||
      fail "$1 is $package's, which the package does not depend on"
    return 0
  done
  fail "no package holds $1"
}
module=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep '/Coilhatch\.so$')
dpkg-deb -x "$deb" "$work/tree"
libraries=$(readelf -d "$work/tree/$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
grep -q '^libpython' <<<"$libraries" || fail "the module links no libpython: $libraries"
for library in $libraries; do
  [ "$library" = libmarrowpad.so ] ||
    needed "$library" "/usr/lib/x86_64-linux-gnu/$library" "/lib/x86_64-linux-gnu/$library"
done
python=$(realpath "$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")")
needed "$python" "$python"
for name in wx jedi pyflakes; do
  needed "$name" "$("$python" -c "import $name; print($name.__file__)")"
done

plugins=${module#.}
plugins=${plugins%/Coilhatch.so}
# Its files lie in the plug-ins folder alone (check_installed.sh checks which they are there).
outside=$(dpkg-deb -c "$deb" | awk -v folder=".$plugins/" '$1 ~ /^-/ && index($6, folder) != 1')
[ -z "$outside" ] || fail "files of the package outside $plugins:
$outside"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" ||
  { cat "$work/apt.log"; exit 1; }
installed=true
# Python writes its compiled modules as on a user's machine, for the removal to take away.
unset PYTHONDONTWRITEBYTECODE
start=$SECONDS
tests/install/check_installed.sh "$plugins" "$build_dir/bin/marrowpad" "$PWD"
echo "(checked and run in $((SECONDS - start)) s)"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq coilhatch >"$work/apt.log" ||
  { cat "$work/apt.log"; exit 1; }
installed=false
[ ! -e "$plugins" ] || fail "$plugins is left after the package's removal: $(find "$plugins")"
echo "The package installs, runs and removes cleanly."
