#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configures (once) and builds the project in DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
shift
"$root/scripts/install-deps.sh"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir"
