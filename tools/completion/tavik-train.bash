# SPDX-License-Identifier: MIT
# bash completion for tavik-train(1): options, the corpus folder, the profile.

_tavik_train() {
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        --licence)
            return
            ;;
        --letters)
            COMPREPLY=($(compgen -W "unicode" -- "$cur"))
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--licence --follow-links --letters --fold-case --nfc
            --help --version' -- "$cur"))
        return
    fi

    # The first argument is the corpus folder, the second the profile.
    local args=0 i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --licence | --letters) ((i++)) ;;
            -*) ;;
            *) ((args++)) ;;
        esac
    done
    if ((args == 0)); then
        _filedir -d
    else
        _filedir tavik
    fi
} &&
    complete -F _tavik_train tavik-train
