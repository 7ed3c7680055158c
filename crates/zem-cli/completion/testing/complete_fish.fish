# fish complete_fish.fish SCRIPT LINE: the words that fish's completion
# proposes at the end of LINE with the completion SCRIPT loaded, one a line.
source $argv[1]; or exit 2
for candidate in (complete -C $argv[2])
    string split -f1 \t -- $candidate
end
# (string split fails on a word without a description.)
exit 0
