# SPDX-License-Identifier: MIT
# bash completion for tavik(1): options, their values, files and eval.

_tavik() {
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        -p | --profile)
            _filedir tavik
            return
            ;;
        -e | --explain | -o | --only)
            # The profile's language codes, from the profile named so far.
            local profile="" i
            for ((i = 1; i < cword; i++)); do
                case ${words[i]} in
                    -p | --profile) profile=${words[i + 1]} ;;
                    --profile=*) profile=${words[i]#--profile=} ;;
                esac
            done
            local codes
            codes=$("${words[0]}" ${profile:+--profile "$profile"} --list 2>/dev/null |
                awk -F'\t' '$1 == "language" { print $2 }')
            if [[ $prev == -o || $prev == --only ]]; then
                local prefix=${cur%,*}
                [[ $prefix == "$cur" ]] && prefix="" || prefix+=","
                COMPREPLY=($(compgen -P "$prefix" -W "$codes" -- "${cur##*,}"))
                compopt -o nospace
            else
                COMPREPLY=($(compgen -W "$codes" -- "$cur"))
            fi
            return
            ;;
        -j | --jobs | -k | --top | --min-ngrams | --min-margin | --max-distribution | \
            --occurrence-threshold | --min-accuracy)
            return
            ;;
        --size-penalty)
            COMPREPLY=($(compgen -W "0 1" -- "$cur"))
            return
            ;;
        --max-ngram-length)
            COMPREPLY=($(compgen -W "1 2 3 4 5 6 7" -- "$cur"))
            return
            ;;
    esac
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--file --lines --with-filename --no-filename
            --replace-invalid --jobs --json --top --result-json --all --explain --list
            --profile --only --min-ngrams --min-margin --size-penalty --max-ngram-length
            --max-distribution --occurrence-threshold --min-accuracy --help --version' \
            -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    local i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            eval)
                _filedir tsv
                return
                ;;
            -f | --file | -*f | -*f*)
                [[ ${words[i]} == --* && ${words[i]} != --file ]] && continue
                _filedir
                return
                ;;
        esac
    done
    [[ $cword -eq 1 ]] && COMPREPLY=($(compgen -W "eval" -- "$cur"))
} &&
    complete -F _tavik tavik
