# zsh -f complete_zsh.zsh DIRECTORY LINE: the words that zsh's completion
# proposes at the end of LINE with the completion functions of DIRECTORY,
# one a line. An interactive zsh on a pseudo-terminal is given LINE and a
# tab; every word a completion function adds is printed as it is added,
# between markers that the terminal's echo of these commands does not hold
# (it shows "<""<").
zmodload zsh/zpty || exit 2
zpty shell zsh -f -i || exit 2
zpty -w shell "fpath=(${(q)1} \$fpath)"
# The first run writes a dump of the completion functions for the others.
zpty -w shell 'PROMPT= ; autoload -Uz compinit; compinit -u -d "$HOME/.zcompdump-zem"'
# A call that only gathers matches (-O, -A, -D) is passed on as it is.
zpty -w shell 'compadd() {
  if [[ ${@[1,(i)(-|--)]} == *-(O|A|D)\ * ]]; then builtin compadd "$@"; return; fi
  local -a found; builtin compadd -A found "$@"
  (( $#found )) && print -rl -- "<""<"${^found}">>"
  builtin compadd "$@"
}'
zpty -w shell '_zem_test_done() { print -r -- "<""<done>>"; exit; }; comppostfuncs=(_zem_test_done)'
zpty -w -n shell "$2"$'\t'
local output
zpty -r shell output '*<<done>>*' || exit 2
for line in ${(f)output//$'\r'/}; do
  [[ $line =~ '<<(.*)>>' && $match[1] != done ]] && print -r -- $match[1]
done
zpty -d shell
