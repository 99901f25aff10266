#!/usr/bin/env bash
# Sets up, builds the window alone and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh ipnd-testgen
exec build/src/ipnd-testgen "$@"
