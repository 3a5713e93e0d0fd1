#!/usr/bin/env bash
# Installs what building and testing Coilhatch needs, from Debian's archive. Safe to run again:
# it installs only what is missing.
set -euo pipefail

packages=(
  cmake g++ ninja-build pkg-config
  libwxgtk3.2-dev        # wxWidgets 3.2: base, core, stc, xml
  libexpat1-dev          # the settings store's XML parser
  python3-dev            # Debian's Python 3.11, for embedding
  python3-wxgtk4.0       # wxPython 4.2 for that Python
  python3-jedi           # completions for the completion script
  python3-pyflakes       # diagnostics in Python documents
  nlohmann-json3-dev     # JSON between the plug-in and the completion server
  python3-venv           # (tests) a virtual environment first on PATH
  pybind11-dev           # the editor's Python module
  googletest libgtest-dev libgmock-dev
  xvfb xauth             # a virtual display for headless runs and tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi
