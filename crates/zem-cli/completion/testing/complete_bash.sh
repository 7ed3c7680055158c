#!/bin/bash
# complete_bash.sh SCRIPT LINE: the words that bash's completion proposes at
# the end of LINE with the completion SCRIPT loaded, one a line. bash cannot
# be asked to complete without a terminal, so its completion function is
# called as bash calls it: with the line split into COMP_WORDS, the cursor's
# word in COMP_CWORD. Words are split at blanks only: no test line holds
# quotes or '='.
set -u
source /usr/share/bash-completion/bash_completion || exit 2
source "$1" || exit 2
COMP_LINE=$2
COMP_POINT=${#COMP_LINE}
read -ra COMP_WORDS <<<"$COMP_LINE"
[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMPREPLY=()
_zem_package zem-package "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}"
