#!/bin/sh
# Makes or takes down one pseudo-terminal pair for a Windows test under Wine.
#   pty-pair.sh create DIR: socat joins two new terminals that DIR/port and
#       DIR/peer link to, the link comN in the prefix's dosdevices folder
#       points at the port end, and DIR/name, written last, holds comN.
#       DIR/error says why not.
#   pty-pair.sh remove DIR: the comN link goes, socat is stopped, so that the
#       port end hangs up, and DIR is deleted last.
# The tests (pty_pair_win32.cpp) start it through Wine's /bin/sh, which
# inherits WINEPREFIX from the Wine process.
set -u
dir=$2
dosdevices=${WINEPREFIX:-$HOME/.wine}/dosdevices
publish() { printf '%s\n' "$2" >"$dir/$1.tmp" && mv "$dir/$1.tmp" "$dir/$1"; }
# True while process $1 runs; a zombie no longer holds its terminals.
running() {
    state=$(sed -n 's/^.*) \(.\).*$/\1/p' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}
case $1 in
create)
    [ -d "$dosdevices" ] || { publish error "no folder $dosdevices"; exit 1; }
    socat pty,raw,echo=0,link="$dir/port" pty,raw,echo=0,link="$dir/peer" \
        </dev/null >/dev/null 2>"$dir/socat.log" &
    pid=$!
    echo "$pid" >"$dir/pid"
    tries=0
    until [ -e "$dir/port" ] && [ -e "$dir/peer" ]; do
        running "$pid" || { publish error "socat ended: $(cat "$dir/socat.log")"; exit 1; }
        tries=$((tries + 1))
        [ "$tries" -le 3000 ] || { kill "$pid"; publish error "socat made no terminals"; exit 1; }
        sleep 0.01
    done
    # Numbers from 100 to 254 stay clear of the ports Wine finds itself. ln
    # claims one atomically, also against another run in the same prefix;
    # the shared counter only makes a number that was just given up the
    # last to be taken again, so that a test can rely on a removed name
    # staying absent.
    counter=${dosdevices%/*}/.tarn-next-com
    n=$(cat "$counter" 2>/dev/null) || n=100
    case $n in '' | *[!0-9]*) n=100 ;; esac
    tries=0
    until ln -s "$(readlink "$dir/port")" "$dosdevices/com$n" 2>/dev/null; do
        n=$((n >= 254 ? 100 : n + 1))
        tries=$((tries + 1))
        [ "$tries" -le 155 ] || { kill "$pid"; publish error "no free COM name"; exit 1; }
    done
    echo $((n >= 254 ? 100 : n + 1)) >"$counter"
    publish name "com$n"
    ;;
remove)
    [ -f "$dir/name" ] && rm -f "$dosdevices/$(cat "$dir/name")"
    if [ -f "$dir/pid" ]; then
        pid=$(cat "$dir/pid")
        kill "$pid" 2>/dev/null
        tries=0
        while running "$pid" && [ "$tries" -lt 3000 ]; do
            tries=$((tries + 1))
            sleep 0.01
        done
    fi
    rm -rf "$dir"
    ;;
esac
