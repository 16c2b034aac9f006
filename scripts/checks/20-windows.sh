#!/usr/bin/env bash
# rxb540.exe cross-built with MinGW-w64 and tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/../.."
bash tests/windows/run-wine-tests.sh
