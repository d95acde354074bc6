#!/usr/bin/env bash
# Runs the bash completion of kbcctl as bash-completion loads it and checks what it offers:
# the commands, options, list items and aliases that `kbcctl --help` names, a few typed lines,
# and the recorders of a simulated bus after --device and --serial.
# Usage: check_completion.sh KBCCTL COMPLETION_FILE
set -uo pipefail
kbcctl=$1
completion=$2
export LC_ALL=C.UTF-8

# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion || { echo "bash-completion is missing"; exit 1; }
# shellcheck source=/dev/null
source "$completion"

# compopt works only while readline completes; here it has nothing to change.
compopt() { :; }

status=0
fail() {
  echo "$*"
  status=1
}

# What the completion offers for LINE, the cursor at its end, one reply a line.
offers() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _kbcctl kbcctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local line=$1 want=$2 got
  got=$(offers "$line")
  [[ $got == "$want" ]] || fail "'$line<TAB>' offers [${got//$'\n'/ }], not [${want//$'\n'/ }]"
}

sorted() { printf '%s\n' "$@" | sort; }

# The help's tables.
help=$("$kbcctl" --help) || { echo "kbcctl --help failed"; exit 1; }
options=$(sed -n '/^Options:/,/^Commands:/p' <<<"$help" | grep -E '^ +-' |
  sed -E 's/^ +//; s/  .*//; s/ [A-Z]+$//; s/\[=[A-Z]+\]$//; s/, /\n/g' | sort)
commands=()
declare -A items=()
command=""
while IFS= read -r row; do
  if [[ $row =~ ^\ \ ([a-z][a-z-]*)(\ [A-Z]+(\.\.\.)?)?\ \  ]]; then
    command=${BASH_REMATCH[1]}
    commands+=("$command")
  elif [[ -n $command && $row =~ ^\ {20}(.*[^ ])\ *$ ]]; then
    items[$command]+=" ${BASH_REMATCH[1]}"
  fi
done < <(sed -n '/^Commands:/,/^$/p' <<<"$help")
((${#commands[@]} > 10)) || fail "found only ${#commands[@]} commands in kbcctl --help"

# The tables agree with the help.
expect "kbcctl " "$(sorted "${commands[@]}")"
[[ $(offers "kbcctl -" | sed 's/=$//' | sort) == "$options" ]] ||
  fail "the completion's options differ from the help's: $(offers "kbcctl -" | tr '\n' ' ')"
for command in "${commands[@]}"; do
  [[ $command == apply || $command == check ]] && continue  # files and folders, below
  want=()
  if [[ ${items[$command]-} != *"GBK bytes"* ]]; then
    read -ra want <<<"${items[$command]-}"
    want=("${want[@]/|/}")
    # An alias is shown in brackets after its item.
    for i in "${!want[@]}"; do
      [[ ${want[i]} == \(*\) ]] && want[i]=${want[i]:1:-1}
    done
    for i in "${!want[@]}"; do
      [[ -n ${want[i]} ]] && printf -v 'want[i]' %q "${want[i]}" || unset 'want[i]'
    done
  fi
  expect "kbcctl --simulate $command " "$( ((${#want[@]})) && sorted "${want[@]}")"
done

# Typed lines: prefixes, escaped and quoted items, option values, what comes after the TEXT.
while IFS='|' read -r line want; do
  expect "$line" "$(tr ' ' '\n' <<<"$want" | sed '/^$/d' | sort)"
done <<'EOF'
kbcctl v|verify video voice
kbcctl -yv vid|video
kbcctl --password-file - seg|segment
kbcctl video 1920|1920X1080\(60\) 1920X1080\(30\)
kbcctl video 1920X1080\(6|1920X1080\(60\)
kbcctl video '1280|1280X720(60) 1280X720(30)
kbcctl segment 1|10分钟 15分钟 10min 15min
kbcctl brightness h|high
kbcctl screen-off n|never
kbcctl -v -- motion 打|打开
kbcctl video 1080p|
kbcctl video 848X480\(30\) |
kbcctl verify |
kbcctl unit-name |
kbcctl info --j|--json
kbcctl list --j|--json
kbcctl list |
kbcctl verify --j|--json
kbcctl --al|--all
kbcctl --all ap|apply
kbcctl apply --a|--all
kbcctl verify --al|
kbcctl apply station.toml |
kbcctl audit --j|--json
kbcctl audit --sin|--since=
kbcctl --since |today yesterday
kbcctl audit --since y|yesterday
kbcctl --since -2h au|audit
kbcctl verify --sin|
kbcctl --dev|--device=
kbcctl --device 001/002 vid|video
kbcctl --serial KBC0001 seg|segment
kbcctl --simulate=3 ir |手动 自动 manual auto
kbcctl --device |
kbcctl erase --y|--yes
kbcctl --password-|--password-file=
kbcctl --help |
kbcctl nosuch |
EOF

# Files after --password-file, in either spelling; TOML files and folders after apply.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/password" "$dir/other" "$dir/station.toml" "$dir/station.txt"
mkdir "$dir/stations"
expect "kbcctl --password-file $dir/pass" "$dir/password"
expect "kbcctl --password-file=$dir/pass" "$dir/password"
expect "kbcctl --all apply $dir/st" "$(sorted "$dir/station.toml" "$dir/stations")"

# The recorders after --device and --serial, as kbcctl list on the line's bus shows them.
mkdir "$dir/bin"
ln -s "$(realpath "$kbcctl")" "$dir/bin/kbcctl"
PATH=$dir/bin:$PATH
expect "kbcctl --simulate=3 --device " "$(sorted 001/001 001/002 001/003)"
expect "kbcctl --simulate=3 --device=001/00" "$(sorted 001/001 001/002 001/003)"
expect "kbcctl --simulate=3 --serial KBC0002" "KBC0002"
expect "kbcctl --simulate --serial " "KBC0001"

exit $status
