#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing (Debian).
set -euo pipefail
need=()
for pkg in pvm pvm-dev cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev iproute2 util-linux procps; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "installing: ${need[*]}"
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
