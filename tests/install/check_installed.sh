#!/usr/bin/env bash
# Checks an installed plug-ins folder, then runs the editor on it as its user would.
#   check_installed.sh PLUGINS_DIR EDITOR SOURCE_DIR
# The folder holds the module and every Python file of the source tree's python/ folder, as
# they are in the source, and nothing else (no settings file or scripts folder, nothing the
# build's tests leave in the build tree's plug-ins folder); the module is not executable and has
# no search path of its own; files are 0644 and folders 0755. The editor then runs, in batch
# mode, the example "hello" registered from the installed examples, a script of the scripts
# folder, a completion (jedi, in the installed completion server) and pyflakes' findings.
# What the run needs in PLUGINS_DIR (the settings file, the scripts folder) is removed again.
# SOURCE_DIR is the source tree.
set -euo pipefail
plugins=$1
editor=$(realpath "$2")
source=$3
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expected=$( (echo Coilhatch.so && cd "$source" && find python -name '*.py') | sort)
found=$(cd "$plugins" && find . -type f -printf '%P\n' | sort)
[ "$found" = "$expected" ] || fail "the files in $plugins differ from the plug-in's:
$(diff <(echo "$expected") <(echo "$found") || true)"
while read -r file; do
  [ "$file" = Coilhatch.so ] || cmp -s "$source/$file" "$plugins/$file" ||
    fail "$plugins/$file is not the source's $file"
done <<<"$found"

modes=$(find "$plugins" \( -type f ! -perm 0644 \) -o \( -type d ! -perm 0755 \))
[ -z "$modes" ] || fail "not 0644 (files) or 0755 (folders): $modes"
if readelf -d "$plugins/Coilhatch.so" | grep -E 'RPATH|RUNPATH'; then
  fail "the installed module has a search path of its own"
fi

if [ -e "$plugins/Coilhatch.xml" ] || [ -e "$plugins/python/scripts" ]; then
  fail "$plugins is not a fresh install"
fi
work=$(mktemp -d)
# The settings file goes with the lock file that the plug-in's saves take beside it.
made=("$plugins/Coilhatch.xml" "$plugins/.Coilhatch.xml.lock" "$plugins/python/scripts")
trap 'rm -rf "$work" "${made[@]}"' EXIT
cat >"$plugins/Coilhatch.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<config>
  <Coilhatch>
    <Counts>1</Counts>
    <Script0>
      <autoRun>0</autoRun>
      <autoReload>1</autoReload>
      <name>hello</name>
      <location>python/examples/hello.py</location>
      <description>The installed example</description>
    </Script0>
  </Coilhatch>
</config>
XML
mkdir -p "$plugins/python/scripts"
cat >"$plugins/python/scripts/whereami.py" <<'PY'
import os


def MpMain():
    print("whereami runs from", os.path.dirname(os.path.abspath(__file__)))
PY
printf 'import os\nimport sys\nos.pa\n' >"$work/document.py"

display=()
[ -n "${DISPLAY:-}" ] || display=(xvfb-run -a)
status=0
(cd "$work" && "${display[@]}" "$editor" --plugins-dir "$plugins" --batch \
  --select "Tools/Python Script/hello" --select "Tools/Python Script/whereami" \
  --complete 3:6 document.py) >"$work/out" 2>"$work/err" || status=$?
echo "The editor's output, run on $plugins:"
cat "$work/out"
[ "$status" -eq 0 ] || fail "the editor exited with $status: $(cat "$work/err")"

expect() { # expect -E PATTERN | -F LINE
  grep -qx "$1" -- "$2" "$work/out" || fail "no line $2 in the editor's output"
}
expect -E "Hello from Python 3\.11 with wxPython 4\.2\..*"
expect -F "whereami runs from $plugins/python/scripts"
expect -E "\[completion\] pa.*"
expect -F "[diagnostic] 2:1: 'sys' imported but unused"
if grep -q '^\[message box\]' "$work/out"; then
  fail "the editor showed a message box"
fi
