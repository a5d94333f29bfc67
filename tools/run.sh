#!/usr/bin/env bash
# Installs what is missing, builds the POSIX program and runs it in this terminal.
# Type "help" for its commands and "exit" to end it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux --target vq.lumen >/dev/null
exec build/linux/bin/vq.lumen "$@"
