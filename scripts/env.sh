# Shared settings of the project's scripts; sourced, never run.
: "${PLAN_DESK_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/plan_desk}"
export PLAN_DESK_CACHE
export WINEPREFIX="${WINEPREFIX:-$PLAN_DESK_CACHE/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko prompts, and a crashing process exits instead of hanging in winedbg.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
export PATH="/usr/lib/wine:$PATH"
