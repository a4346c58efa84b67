#!/usr/bin/env bash
# Runs one Windows program under Wine with the project's prefix; ctest uses it as the emulator.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/env.sh"
export LC_ALL="${LC_ALL:-zh_CN.UTF-8}"
exec wine "$@"
