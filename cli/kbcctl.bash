# bash completion for kbcctl                                  -*- shell-script -*-
#
# The tables follow cli/options.cpp and console/setting_tables.cpp; tests/dist checks them
# against `kbcctl --help`.

# Every command, with the list items its TEXT is one of and their ASCII aliases (separated by
# spaces). A command that takes free text, a file or nothing has no items.
declare -gA _kbcctl_commands=(
    [list]=''
    [apply]=''
    [offload]=''
    [check]=''
    [upload]=''
    [prune]=''
    [status]=''
    [station]=''
    [audit]=''
    [verify]=''
    [msdc]=''
    [erase]=''
    [passwd]=''
    [info]=''
    [video]='2304X1296(30) 1920X1080(60) 1920X1080(30) 1280X720(60) 1280X720(30) 848X480(30)'
    [segment]='5分钟 10分钟 15分钟 30分钟 关闭 5min 10min 15min 30min off'
    [photo]='2688X1512 5376X3024 6016X3384 7680X4320'
    [brightness]='高 中 低 high mid low'
    [screen-off]='1分钟 5分钟 关闭 1min 5min never'
    [ir]='手动 自动 manual auto'
    [voice]='打开 关闭 on off'
    [motion]='打开 关闭 on off'
    [unit-number]=''
    [unit-name]=''
    [user-number]=''
    [user-name]=''
)

# Every option, with the commands it goes with when not all; an option that takes a value
# ends in "=".
declare -gA _kbcctl_options=(
    [--all]='apply offload'
    [--device=]=''
    [--serial=]=''
    [--since=]='audit'
    [--from=]='offload'
    [--store=]='offload upload prune status station erase'
    [--remote]='check'
    [--dry-run]='prune'
    [--prometheus]='status'
    [--once]='station'
    [--status]='station'
    [--without-offload]='erase'
    [--simulate]=''
    [--password-file=]=''
    [--yes]='erase'
    [-y]='erase'
    [--verbose]=''
    [-v]=''
    [--json]=''
    [--help]=''
    [-h]=''
    [--version]=''
)

_kbcctl() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --password-file | --from)
            _filedir
            return
            ;;
        --store)
            _filedir -d
            return
            ;;
        # The recorders connected, as kbcctl list shows them (it asks each for its serial
        # number, no password needed), on the simulated bus where the line has --simulate. A
        # serial number is the recorder's own text: quoted, never evaluated.
        --device | --serial)
            local word line simulate=() column=1
            [[ $prev == --serial ]] && column=2
            for word in "${words[@]:1:cword-1}"; do
                [[ $word == --simulate || $word == --simulate=* ]] && simulate=("$word")
            done
            COMPREPLY=()
            while IFS= read -r line; do
                [[ $line != - && $line == "$cur"* ]] || continue
                printf -v line %q "$line"
                COMPREPLY+=("$line")
            done < <("${words[0]}" "${simulate[@]}" list </dev/null 2>/dev/null | cut -f "$column")
            return
            ;;
        --help | -h | --version)
            return
            ;;
        # Dates and times are typed; the named days are offered.
        --since)
            COMPREPLY=($(compgen -W "today yesterday" -- "$cur"))
            return
            ;;
    esac
    $split && return

    # The operands so far: the command, then its TEXT.
    local i word command="" operands=0 options_ended=""
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ -z $options_ended && $word == -?* ]]; then
            [[ $word == -- ]] && options_ended=1
            [[ $word == --password-file || $word == --device || $word == --serial ||
                $word == --since || $word == --from || $word == --store ]] && ((i++))
            continue
        fi
        ((operands++ == 0)) && command=$word
    done

    COMPREPLY=()
    if [[ -z $options_ended && $cur == -* ]]; then
        local option only
        for option in "${!_kbcctl_options[@]}"; do
            only=${_kbcctl_options[$option]}
            [[ $option == "$cur"* ]] || continue
            [[ -z $only || -z $command || " $only " == *" $command "* ]] || continue
            COMPREPLY+=("$option")
        done
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
    elif ((operands == 0)); then
        COMPREPLY=($(compgen -W "${!_kbcctl_commands[*]}" -- "$cur"))
    elif ((operands == 1)) && [[ $command == apply ]]; then
        _filedir toml
    elif ((operands >= 1)) && [[ $command == check ]]; then
        _filedir -d
    elif ((operands == 1)) && [[ -n ${_kbcctl_commands[$command]-} ]]; then
        # Items such as 1920X1080(30) need quoting: inside an opened quote they go in as they
        # are, otherwise escaped. What was typed is never evaluated.
        local item text=${cur//\\/} quoted=""
        if [[ $text == [\'\"]* ]]; then
            text=${text:1}
            quoted=1
        fi
        for item in ${_kbcctl_commands[$command]}; do
            [[ $item == "$text"* ]] || continue
            [[ -z $quoted ]] && printf -v item %q "$item"
            COMPREPLY+=("$item")
        done
    fi
} &&
    complete -F _kbcctl kbcctl

# ex: filetype=sh
