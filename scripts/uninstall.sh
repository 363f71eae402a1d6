#!/usr/bin/env bash
# Undoes scripts/install.sh (`modrik uninstall`): puts back the player
# executable, the settings file and every registry key the install wrote,
# in both registry views, and removes what it created.
exec "$(dirname "$0")/install.sh" --uninstall "$@"
