#!/usr/bin/env bash
# The main job: builds the library and its tools, registers the library in a fresh registry
# inside a fresh folder, and prints the registered class catalogue.
# Usage: scripts/main.sh [FOLDER]   (default: a new folder under /tmp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVA_BUILD_TESTS=OFF

folder=${1:-$(mktemp -d /tmp/qvacom-XXXXXX)}
mkdir -p "$folder"
export QVA_REGISTRY="$folder/registry"
echo "folder: $folder"
"$build/bin/regsvr" "$build/bin/libqvacom.so"
"$build/bin/regsvr" --list
