#!/usr/bin/env bash
# Takes the README's pictures of the Output pane, the Stop window, the message box of a script
# whose load fails and the Script Management dialog in a real window under a virtual display
# (docs/screenshots.py drives the editor), with the examples registered as scripts/run.sh
# registers them. Needs a build (scripts/build.sh). The pictures are read from the virtual
# display's screen memory (Xvfb's -fbdir): reading the screen through the root window (xwd -root)
# gives black for a window that lies wholly inside another one (the Stop window), although the
# screen shows it drawn.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(mktemp -d /tmp/marrowpad-XXXXXX)
trap 'rm -rf "$root"' EXIT
plugins=$root/plugins
mkdir -p "$plugins/python/scripts"
ln -s "$PWD/build/bin/plugins/Coilhatch.so" "$plugins/Coilhatch.so"
ln -s "$PWD/build/bin/plugins/python/examples" "$plugins/python/examples"
ln -s "$PWD/build/bin/plugins/python/autocomplete" "$plugins/python/autocomplete"
cp docs/screenshots.py "$plugins/python/scripts/screenshots.py"
# A script that runs long enough for the Stop window, as a user's would.
cat > "$plugins/python/scripts/countprimes.py" <<'PY'
"""Counts the primes below ten million, telling how far it got."""


def MpMain():
    found = 0
    for number in range(2, 10_000_000):
        if all(number % divisor for divisor in range(2, int(number ** 0.5) + 1)):
            found += 1
            if found % 2000 == 0:
                print(found, 'primes up to', number)
    print(found, 'primes')
PY
# A script whose file cannot be loaded (a stray null byte, as a bad copy leaves one), for the
# message box that tells why.
printf '"""Tidies the current document."""\n\n\ndef MpMain():\n    print("tidied")\0\n' \
  > "$plugins/python/scripts/tidy.py"
mkdir -p "$root/screen"
cat > "$plugins/Coilhatch.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<config>
  <Coilhatch>
    <Counts>2</Counts>
    <Script0>
      <autoRun>0</autoRun>
      <autoReload>1</autoReload>
      <name>hello</name>
      <location>python/examples/hello.py</location>
      <description>Greets you in the message output and tells what the editor has open</description>
      <shortcut>Ctrl+Alt+1</shortcut>
    </Script0>
    <Script1>
      <autoRun>0</autoRun>
      <autoReload>1</autoReload>
      <name>wordcount</name>
      <location>python/examples/wordcount.py</location>
      <description>Counts the lines, words and characters of the current document</description>
      <shortcut>Ctrl+Alt+2</shortcut>
    </Script1>
  </Coilhatch>
</config>
XML
SHOTS_DIR=${SHOTS_DIR:-$PWD/docs} SHOTS_SCREEN=$root/screen/Xvfb_screen0 \
  XDG_CONFIG_HOME=$root/config xvfb-run -a -s "-screen 0 1280x1024x24 -nocursor -fbdir $root/screen" \
  build/bin/marrowpad --plugins-dir "$plugins" --select "Tools/Python Script/screenshots"
