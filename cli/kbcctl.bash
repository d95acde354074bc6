# bash completion for kbcctl                                  -*- shell-script -*-
#
# The tables follow cli/options.cpp and console/setting_tables.cpp; tests/dist checks them
# against `kbcctl --help`.

# Every command, with the list items its TEXT is one of (separated by spaces). A command that
# takes free text or none has no items.
declare -gA _kbcctl_commands=(
    [list]=''
    [verify]=''
    [msdc]=''
    [erase]=''
    [passwd]=''
    [info]=''
    [video]='2304X1296(30) 1920X1080(60) 1920X1080(30) 1280X720(60) 1280X720(30) 848X480(30)'
    [segment]='5分钟 10分钟 15分钟 30分钟 关闭'
    [photo]='2688X1512 5376X3024 6016X3384 7680X4320'
    [brightness]='高 中 低'
    [screen-off]='1分钟 5分钟 关闭'
    [ir]='手动 自动'
    [voice]='打开 关闭'
    [motion]='打开 关闭'
    [unit-number]=''
    [unit-name]=''
    [user-number]=''
    [user-name]=''
)

# Every option, with the commands it goes with when not all; an option that takes a value
# ends in "=".
declare -gA _kbcctl_options=(
    [--device=]=''
    [--serial=]=''
    [--simulate]=''
    [--password-file=]=''
    [--yes]='erase'
    [-y]='erase'
    [--verbose]=''
    [-v]=''
    [--json]='info list'
    [--help]=''
    [-h]=''
    [--version]=''
)

_kbcctl() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --password-file)
            _filedir
            return
            ;;
        # Locations and serial numbers are the recorders' own: kbcctl list shows them.
        --device | --serial | --help | -h | --version)
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
            [[ $word == --password-file || $word == --device || $word == --serial ]] && ((i++))
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
