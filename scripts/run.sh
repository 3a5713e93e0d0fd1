#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Marrowpad editor with the Coilhatch plug-in.
# On a machine without a display it runs the editor in batch mode under a virtual display: it
# runs the example script "hello" from the Tools > Python Script menu and prints what the editor
# shows. Arguments are passed to the editor (see `build/bin/marrowpad --help`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

bin=build/bin
settings=$bin/plugins/Coilhatch.xml
examples=$PWD/$bin/plugins/python/examples
if [ ! -e "$settings" ]; then
  # First start: register the example scripts so that the menu has something to run. Their
  # locations are relative: the plug-in reads them from the settings file's folder.
  cat > "$settings" <<XML
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
    </Script0>
    <Script1>
      <autoRun>0</autoRun>
      <autoReload>1</autoReload>
      <name>wordcount</name>
      <location>python/examples/wordcount.py</location>
      <description>Counts the lines, words and characters of the current document</description>
    </Script1>
  </Coilhatch>
</config>
XML
fi

if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--batch" ]; then
  exec "$bin/marrowpad" "$@"
fi
echo "No display: running the editor in batch mode under a virtual display."
exec xvfb-run -a "$bin/marrowpad" --batch \
  --select "Tools/Python Script/hello" --select "Tools/Python Script/wordcount" \
  "$examples/wordcount.py" "$@"
