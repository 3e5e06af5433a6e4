#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs CTest.
# The multi-host tests need root and network namespaces; elsewhere CTest
# reports them as skipped with the reason.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$@"
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure -j2
