#!/usr/bin/env bash
# Starts the launcher with the default connection file and the simulated camera.
set -euo pipefail
build_dir=${1:-build}
launcher="$build_dir/bin/Launcher"
if [ ! -x "$launcher" ]; then
  echo "The launcher executable is not built: $launcher"
  exit 1
fi
cd "$build_dir/bin"
# DefaultConnections.xml is found next to the executable; without
# TAV_SIM1394 the simulated driver offers its three built-in cameras.
exec ./Launcher -connections DefaultConnections.xml "$@"
