#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Runs apt-get non-interactively as root (or through sudo when not root).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev libsqlite3-dev libxml2-dev unixodbc-dev odbcinst libsqliteodbc
  capnproto libcapnp-dev libssl-dev
  iproute2  # ip: a test runs a console in a network namespace of its own
  locales tzdata
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  as_root=(false)
fi

# Tests check that number texts ignore the process locale: they need one with a decimal comma.
make_test_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    "${as_root[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "install-deps: de_DE.UTF-8 not made; locale tests will skip" >&2
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  make_test_locale
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
if [ "${as_root[*]}" = false ]; then
  echo "install-deps: missing packages (${missing[*]}) and no root rights to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
make_test_locale
