#!/usr/bin/env bash
# Undoes scripts/install.sh: puts back the player executable, the settings
# file and the registry key that the install replaced.
exec "$(dirname "$0")/install.sh" --uninstall "$@"
