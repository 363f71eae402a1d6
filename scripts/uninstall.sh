#!/usr/bin/env bash
# Undoes scripts/install.sh: puts back the player executable, the settings
# file and every registry key the install wrote (the player's key, App Paths,
# the associations of --associate), and removes what it created.
exec "$(dirname "$0")/install.sh" --uninstall "$@"
