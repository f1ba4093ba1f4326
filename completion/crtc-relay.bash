# SPDX-License-Identifier: MIT
# Bash completion for crtc-relay, testpattern and drmsim-run (installed
# under each program's name). The options, and which of them take a value,
# are read from each program's --help, and the names an option accepts from
# the program's own refusal of a bad name, so that options and names added
# later complete without this file changing.

# "OPTION PLACEHOLDER" (or "OPTION" alone) for each option PROGRAM --help
# lists at the start of a line, long and short: "  -s, --screen NAME|N  ..."
# gives "--screen NAME|N" and "-s NAME|N"; an optional value ("--verify[=LIST]")
# is no placeholder, as it never takes the next word.
_crtc_relay_options() {
    "$1" --help 2>/dev/null |
        sed -n -E 's/^ {1,8}(-([[:alnum:]]), )?(--[[:alnum:]][-[:alnum:]]*)(\[=[^] ]*\]|[= ]([^ ]+))?.*/\3 \5\n-\2 \5/p' |
        sed -E '/^-( |$)/d'
}

# The names an option's refusal of a bad value lists ("...; valid patterns:
# tiles, plain, smpte, gradient"), one a line: PROGRAM OPTION [DEVICE]. The
# value is a control character no option accepts, so the program stops at
# its command line or, for names the device decides (a plane's formats),
# once it has read the device, before it sets anything.
_crtc_relay_valid_names() {
    "${_crtc_relay_runner[@]}" "$1" "$2" $'\001' "${3:-/dev/null}" 2>&1 >/dev/null |
        sed -n -E 's/.*([Vv]alid[^:]*|one of): //p' | head -n 1 |
        sed -E 's/\.$//; s/,? or /, /g; s/, /\n/g'
}

# The screen names crtc-relay --list prints for DEVICE, through the runner
# (drmsim-run and its options) when there is one.
_crtc_relay_screens() {
    "${_crtc_relay_runner[@]}" "$1" --list "$2" 2>/dev/null |
        awk '/^[^ ]/ { in_screens = ($0 == "screens:") }
             in_screens && $1 ~ /^[0-9]+$/ { sub(/:$/, "", $2); print $2 }'
}

# The device descriptions drmsim-run's --help names the folder of.
_crtc_relay_descriptions() {
    local folder
    folder=$("$1" --help 2>/dev/null | sed -n 's/^device descriptions: //p')
    [[ -d $folder ]] && printf '%s\n' "$folder"/*.json
}

# crtc-relay and testpattern. Under drmsim-run, _crtc_relay_runner holds
# "drmsim-run --" and the device operand may also be a device description.
_crtc_relay() {
    local cur prev words cword
    _init_completion -n = || return
    # With the cursor between two blanks bash-completion gives one as cur.
    [[ $cur == *[![:space:]]* ]] || cur=""
    local program=${words[0]} line option placeholder
    local -A takes_value=()
    local -a options=()
    while read -r option placeholder; do
        options+=("$option")
        takes_value[$option]=$placeholder
    done < <(_crtc_relay_options "$program")

    # The device operand: the first word that is neither an option nor the
    # value of one.
    local device="" i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            ((i + 1 < cword)) && device=${words[i + 1]}
            break
        elif [[ ${words[i]} == -* ]]; then
            [[ ${words[i]} != *=* && -n ${takes_value[${words[i]}]} ]] && ((i++))
        elif [[ -z $device ]]; then
            device=${words[i]}
        fi
    done
    for ((i = cword + 1; i < ${#words[@]}; i++)); do
        [[ -z $device && ${words[i]} != -* ]] && device=${words[i]}
    done

    local value_of="" value=$cur
    if [[ $cur == --*=* ]]; then
        value_of=${cur%%=*}
        value=${cur#*=}
    elif [[ $prev == -* && -n ${takes_value[$prev]} ]]; then
        value_of=$prev
    fi
    if [[ -n $value_of ]]; then
        placeholder=${takes_value[$value_of]}
        case $placeholder in
        FILE* | *FILE | PATH) _filedir ;;
        DIR*) _filedir -d ;;
        NAME\|N)
            [[ -n $device ]] &&
                mapfile -t COMPREPLY < <(compgen -W "$(_crtc_relay_screens "$program" "$device")" -- "$value")
            ;;
        *)
            # Lower-case alternatives are literal values ("all|LIST").
            local -a names=() alternatives
            IFS='|' read -ra alternatives <<<"$placeholder"
            for option in "${alternatives[@]%%[[]*}"; do
                [[ $option =~ ^[a-z][-a-z]*$ ]] && names+=("$option")
            done
            mapfile -t -O ${#names[@]} names < <(_crtc_relay_valid_names "$program" "$value_of" "$device")
            mapfile -t COMPREPLY < <(compgen -W "${names[*]}" -- "$value")
            ;;
        esac
        return
    fi

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
        return
    fi
    # The operand: DRM device nodes, device descriptions under drmsim-run,
    # and any file.
    _filedir
    local -a devices=(/dev/dri/card*)
    [[ -e ${devices[0]} ]] || devices=()
    if ((${#_crtc_relay_runner[@]})); then
        local description
        while read -r description; do
            [[ ($description == "$cur"* || ${description##*/} == "$cur"*) &&
                " ${COMPREPLY[*]} " != *" $description "* ]] && COMPREPLY+=("$description")
        done < <(_crtc_relay_descriptions "${_crtc_relay_runner[0]}")
    fi
    mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -W "${devices[*]}" -- "$cur")
}

# drmsim-run [OPTION...] -- PROGRAM [ARG...]
_crtc_relay_drmsim_run() {
    local cur prev words cword
    _init_completion || return
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] || continue
        # The program after "--" completes as it would alone, ours with the
        # device descriptions as device operands too.
        local -a _crtc_relay_runner=("${words[0]}" --)
        local program=${COMP_WORDS[i + 1]##*/}
        if [[ $program != crtc-relay && $program != testpattern ]] || ((i + 1 == COMP_CWORD)); then
            _command_offset $((i + 1))
            return
        fi
        # bash-completion's _command_offset assumes the cursor at the end
        # of the line; this keeps it where it is.
        local COMP_LINE=$COMP_LINE COMP_POINT=$COMP_POINT j blanks
        for ((j = 0; j <= i; j++)); do
            blanks=${COMP_LINE%%[![:space:]]*}
            COMP_LINE=${COMP_LINE#"$blanks"}
            COMP_LINE=${COMP_LINE#"${COMP_WORDS[j]}"}
            ((COMP_POINT -= ${#blanks} + ${#COMP_WORDS[j]}))
        done
        blanks=${COMP_LINE%%[![:space:]]*}
        COMP_LINE=${COMP_LINE#"$blanks"}
        ((COMP_POINT -= ${#blanks}))
        local -a COMP_WORDS=("${COMP_WORDS[@]:i+1}")
        local COMP_CWORD=$((COMP_CWORD - i - 1))
        _crtc_relay "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        return
    done
    local option placeholder
    if [[ $prev == -* ]]; then
        while read -r option placeholder; do
            [[ $option == "$prev" ]] || continue
            case $placeholder in
            FILE) _filedir ;;
            DIR) _filedir -d ;;
            esac
            [[ -n $placeholder ]] && return
        done < <(_crtc_relay_options "${words[0]}")
    fi
    local -a options=(--)
    while read -r option placeholder; do options+=("$option"); done < <(_crtc_relay_options "${words[0]}")
    mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
}

complete -F _crtc_relay crtc-relay testpattern
complete -F _crtc_relay_drmsim_run drmsim-run
