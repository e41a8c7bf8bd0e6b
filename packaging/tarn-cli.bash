# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for tarn-cli: commands, options, configuration names and files.
_tarn_cli() {
    local cur prev words cword
    _init_completion || return

    local commands='init pull list new delete copy mod-id export import check show diff apply history restore deleted upgrade migrate'
    local i command='' datadir=() nargs=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --data-dir) datadir=(--data-dir "${words[i + 1]}"); ((i++)) ;;
        --data-dir=*) datadir=("${words[i]}") ;;
        --database) datadir=(--database "${words[i + 1]}"); ((i++)) ;;
        --database=*) datadir=("${words[i]}") ;;
        --from) ((i++)) ;;
        --format | --class | --since | --as-of | --as | --prune-before) ((i++)) ;;
        -*) ;;
        *)
            if [[ -z $command ]]; then
                command=${words[i]}
            else
                ((nargs++))
            fi
            ;;
        esac
    done

    if [[ $prev == --data-dir || $prev == --from ]]; then
        _filedir -d
        return
    fi
    [[ $prev == --database ]] && return
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--data-dir --database --help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local options='--help'
    case $command in
    init) options+=' --sample --from' ;;
    export) options+=' --plain' ;;
    show) options+=' --format' ;;
    apply) options+=' --dry-run --force --delete-missing' ;;
    history) options+=' --class --since --format --size --prune-before' ;;
    restore) options+=' --as-of --as' ;;
    esac
    # A value of its own: nothing to offer.
    case $prev in --class | --since | --as-of | --as | --prune-before) return ;; esac
    if [[ $command == history && $prev == --format ]]; then
        COMPREPLY=($(compgen -W 'text json' -- "$cur"))
        return
    fi
    if [[ $command == show && $prev == --format ]]; then
        COMPREPLY=($(compgen -W 'text csv json' -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    # The configurations, one a line, as tarn-cli list prints them.
    local names
    case $command:$nargs in
    delete:0 | copy:0 | export:0 | show:0 | diff:0 | diff:1 | apply:0 | history:0)
        names=$(tarn-cli "${datadir[@]}" list 2>/dev/null)
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$names" -- "$cur"))
        COMPREPLY=("${COMPREPLY[@]// /\\ }")
        # diff takes class files too.
        [[ $command == diff ]] && _filedir class
        ;;
    export:1 | import:1 | check:0)
        _filedir class
        ;;
    apply:1)
        _filedir '@(csv|json)'
        ;;
    pull:0)
        _filedir -d
        ;;
    restore:0)
        # The deleted ones first: what a restore is most often for.
        names=$( (tarn-cli "${datadir[@]}" deleted | cut -f1; tarn-cli "${datadir[@]}" list) 2>/dev/null)
        local IFS=$'\n'
        COMPREPLY=($(compgen -W "$names" -- "$cur"))
        COMPREPLY=("${COMPREPLY[@]// /\\ }")
        ;;
    esac
} &&
    complete -F _tarn_cli tarn-cli
