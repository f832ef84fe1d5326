#!/usr/bin/env bash
# The main job: builds the library, its tools, the components and the service host; registers the
# library in a fresh registry inside a fresh folder and prints the registered class catalogue;
# then starts vodriksrv on a fresh base folder there (embedded database), waits for
# "Vodrik server init finished." in the day's log, prints the log, stops the service with SIGTERM
# and checks that it exits with 0.
# Usage: scripts/main.sh [FOLDER]   (default: a new folder under /tmp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVA_BUILD_TESTS=OFF

folder=${1:-$(mktemp -d /tmp/qvacom-XXXXXX)}
mkdir -p "$folder"
export QVA_REGISTRY="$folder/registry"
# The consoles' socket of this run's service, inside the folder.
export QVA_REMOTE_SOCKET="$folder/qvacom.sock"
echo "folder: $folder"
"$build/bin/regsvr" "$build/bin/libqvacom.so"
"$build/bin/regsvr" --list

base="$folder/base"
mkdir -p "$base"
today_log() { echo "$base/logs/$(date +%Y%m%d).log"; }
"$build/bin/vodriksrv" --base-folder "$base" &
pid=$!
stop() { kill -TERM "$pid" 2>/dev/null || true; }
trap stop EXIT

# Start-up takes well under a second; give a loaded machine two minutes before calling it hung.
started=no
for _ in $(seq 1 1200); do
  if grep -qs "Vodrik server init finished." "$(today_log)"; then
    started=yes
    break
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
echo "---- $(today_log)"
cat "$(today_log)" 2>/dev/null || true
echo "----"
if [ "$started" != yes ]; then
  rc=0
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
  wait "$pid" || rc=$?
  echo "vodriksrv did not finish its start (exit code $rc)" >&2
  exit 1
fi

trap - EXIT
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
echo "vodriksrv stopped with exit code $rc"
exit "$rc"
