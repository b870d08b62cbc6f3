#!/usr/bin/env bash
# Starts the launcher with the default connection file and the simulated camera.
set -euo pipefail
build_dir=${1:-build}
launcher="$build_dir/bin/Launcher"
if [ ! -x "$launcher" ]; then
  echo "The launcher executable is not built yet ($launcher): the main window comes with a later change."
  echo "Built so far: the libraries and test programs in $build_dir/bin."
  exit 0
fi
cd "$build_dir/bin"
exec ./Launcher "$@"
