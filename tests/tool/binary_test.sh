#!/bin/sh
# The built tool, against the real library, on command lines that end before
# any call: help must succeed, and refused command lines must exit 64.
set -u
tool=$1
failures=0

expect() {
    want=$1
    shift
    "$tool" "$@" >/dev/null 2>&1
    got=$?
    if [ "$got" -ne "$want" ]; then
        echo "FAIL: vantrelfb $* exited $got, expected $want" >&2
        failures=$((failures + 1))
    fi
}

expect 0 --help
expect 0 --version
for cmd in fetch status checkin event delete photo video signin; do expect 0 "$cmd" --help; done
for action in create edit view delete; do expect 0 note "$action" --help; done

expect 64
expect 64 frobnicate
expect 64 fetch --url https://127.0.0.1:9/
expect 64 status --message m --target t --out /dev/null
expect 64 fetch --url "$(printf 'https://127.0.0.1:9/\377')" --out /dev/null
expect 64 fetch --url https://127.0.0.1:9/ --out /dev/null --connect-timeout 0
expect 64 signin -v -q

# The token variable is read, and a broken one is refused before any call.
VANTRELFB_TOKEN=$(printf '\303')
export VANTRELFB_TOKEN
expect 64 note view --owner o --note n --out /dev/null
unset VANTRELFB_TOKEN

# A token file or standard input without a token ends before any call, and so
# does a token that would reach the service cut short or split.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
expect 66 status --message m --target t --token-file /nonexistent/token --out /dev/null
"$tool" status --message m --target t --token - --out /dev/null </dev/null >/dev/null 2>&1
got=$?
[ "$got" -eq 66 ] || { echo "FAIL: --token - on empty input exited $got, expected 66" >&2; failures=$((failures + 1)); }
printf 'AB\000CD\n' >"$dir/token"
expect 66 status --message m --target t --token-file "$dir/token" --out /dev/null
expect 66 status --message m --target t --token "$(printf 'AB\nCD')" --out /dev/null
"$tool" status --message m --target t --token - --out /dev/null <&- >/dev/null 2>&1
got=$?
[ "$got" -eq 66 ] || { echo "FAIL: --token - on closed input exited $got, expected 66" >&2; failures=$((failures + 1)); }

# An answer for standard output reaches it or the tool says it could not: with
# standard output closed, never into a socket of the library's that took its
# number. A one-line HTTP service on the loopback gives the answer.
if command -v python3 >/dev/null 2>&1; then
    python3 -c '
import os, socket, sys
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(4)
server.settimeout(30)
with open(sys.argv[1] + ".new", "w") as f:
    f.write(str(server.getsockname()[1]))
os.rename(sys.argv[1] + ".new", sys.argv[1])
for _ in range(3):
    connection, _ = server.accept()
    connection.settimeout(30)
    request = b""
    while b"\r\n\r\n" not in request:
        request += connection.recv(4096)
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{\"id\":\"1\"}")
    while connection.recv(4096):
        pass
    connection.close()
' "$dir/port" &
    service=$!
    tries=0
    while [ ! -s "$dir/port" ] && [ "$tries" -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    url="http://127.0.0.1:$(cat "$dir/port" 2>/dev/null)/"
    fetched() { no_proxy='*' "$tool" fetch --url "$url" --out -; }
    out=$(fetched 2>/dev/null)
    got=$?
    [ "$got:$out" = '0:{"id":"1"}' ] || { echo "FAIL: --out - gave status $got and '$out'" >&2; failures=$((failures + 1)); }
    for target in closed /dev/full; do
        if [ "$target" = closed ]; then err=$(fetched 2>&1 >&-); else err=$(fetched 2>&1 >/dev/full); fi
        got=$?
        case $got:$err in
        "74:"*"could not be written to standard output"*) ;;
        *) printf 'FAIL: --out - to %s standard output: status %s\n%s\n' "$target" "$got" "$err" >&2
           failures=$((failures + 1)) ;;
        esac
    done
    kill "$service" 2>/dev/null
    wait "$service" 2>/dev/null
fi

# The completion scripts complete, each in its shell.
expect 0 completion bash
expect 0 completion zsh
expect 0 completion fish
expect 64 completion tcsh
if command -v bash >/dev/null 2>&1; then
    script=$("$tool" completion bash)
    got=$(bash -c "$script"'
        show() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vantrelfb; echo "${COMPREPLY[*]}"; }
        show vantrelfb no
        show vantrelfb note v
        show vantrelfb photo --no
        show vantrelfb note view --to
        show vantrelfb video --media /dev/nul
        show vantrelfb status --message ""
        show vantrelfb signin --st
        show vantrelfb fetch --connect-timeout ""
        show vantrelfb completion ""' 2>&1)
    want=$(printf '%s\n' note view --no-progress "--token --token-file" /dev/null "" --stall-timeout "" "bash zsh fish --help")
    if [ "$got" != "$want" ]; then
        printf 'FAIL: bash completion offered:\n%s\nexpected:\n%s\n' "$got" "$want" >&2
        failures=$((failures + 1))
    fi
fi

# What zsh and fish offer, one line per command line; the shells run with a
# home of the test's own, so that nothing of the user's is read or written.
queries='vantrelfb st
vantrelfb note v
vantrelfb note view --to
vantrelfb video --media /dev/nul
vantrelfb status --message 
vantrelfb signin --st
vantrelfb fetch --connect-timeout 
vantrelfb completion 
vantrelfb fetch --url u --o'
compare() {
    if [ "$2" != "$3" ]; then
        printf 'FAIL: %s completion offered:\n%s\nexpected:\n%s\n' "$1" "$2" "$3" >&2
        failures=$((failures + 1))
    fi
}
if command -v zsh >/dev/null 2>&1; then
    mkdir "$dir/zsh"
    "$tool" completion zsh >"$dir/zsh/_vantrelfb"
    zsh -n "$dir/zsh/_vantrelfb" || { echo "FAIL: zsh -n rejects the zsh completion" >&2; failures=$((failures + 1)); }
    # Completion runs only in the line editor, so an interactive zsh on a
    # pseudo-terminal gets the keys, and a compadd of its own records what the
    # script offers. Keys typed while no prompt is up would meet the
    # terminal's own line editing (^U erases the line), so every line waits
    # for the prompt, which reads READY> only when drawn.
    cat >"$dir/drive.zsh" <<'EOF'
zmodload zsh/zpty || exit 1
dir=$1
shift
step() {
    zpty -w shell "$1"
    zpty -r shell out '*READY> *' || exit 1
}
zpty shell zsh -f -i
step "PS1='RE%{%}ADY> ' LISTMAX=10000"
step "fpath=(${(q)dir}/zsh \$fpath); autoload -Uz compinit; compinit -u -D"
step 'compadd() {
    builtin compadd "$@"
    (( ${@[(I)-[OAD]]} )) && return
    local -a hits
    builtin compadd -O hits "$@"
    print -rl -- $hits >>'${(q)dir}'/hits.$query
}'
for ((query = 1; query <= $#; query++)); do
    step "query=$query"
    step "${@[query]}"$'\t\C-u'
done
zpty -d shell
for ((query = 1; query <= $#; query++)); do
    hits=()
    [[ -e $dir/hits.$query ]] && hits=(${(f)"$(<$dir/hits.$query)"})
    print -r -- "${(j: :)${(@ou)hits}}"
done
EOF
    old_ifs=$IFS
    IFS='
'
    # shellcheck disable=SC2086
    got=$(HOME=$dir LC_ALL=C timeout 60 zsh -f "$dir/drive.zsh" "$dir" $queries 2>&1)
    IFS=$old_ifs
    want=$(printf '%s\n' status view "--token --token-file" null "" --stall-timeout "" "--help bash fish zsh" --out)
    compare zsh "$got" "$want"
fi
if command -v fish >/dev/null 2>&1; then
    "$tool" completion fish >"$dir/vantrelfb.fish"
    fish --no-config -n "$dir/vantrelfb.fish" || { echo "FAIL: fish -n rejects the fish completion" >&2; failures=$((failures + 1)); }
    old_ifs=$IFS
    IFS='
'
    # shellcheck disable=SC2086
    got=$(HOME=$dir XDG_CONFIG_HOME=$dir XDG_DATA_HOME=$dir LC_ALL=C timeout 60 fish --no-config -c '
        source $argv[1]
        for line in $argv[2..-1]
            set -l hits (complete -C "$line" | string replace -r "\t.*" "")
            echo "$hits"
        end' "$dir/vantrelfb.fish" $queries 2>&1)
    IFS=$old_ifs
    want=$(printf '%s\n' status view "--token --token-file" /dev/null "" --stall-timeout "" "bash fish zsh" --out)
    compare fish "$got" "$want"
fi

# Usage errors are reported on stderr only.
out=$("$tool" frobnicate 2>/dev/null)
[ -z "$out" ] || { echo "FAIL: usage error wrote to stdout" >&2; failures=$((failures + 1)); }
err=$("$tool" frobnicate 2>&1 >/dev/null)
case $err in *frobnicate*) ;; *) echo "FAIL: usage error does not name the word: $err" >&2; failures=$((failures + 1)) ;; esac

[ "$failures" -eq 0 ] && echo "all binary checks passed"
exit "$failures"
