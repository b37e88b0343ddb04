#!/bin/sh
# Runs ser2net for one test: it serves the terminal DEVICE over RFC 2217 on
# 127.0.0.1, with a configuration of its own in DIR (never the system's).
#   ser2net-server.sh start DIR DEVICE PORT OWNER [raw]: starts ser2net on PORT,
#       or, when PORT is 0, on a free port that it finds by trying. DIR/port,
#       written once ser2net listens there, holds the port; DIR/error says
#       why not, and DIR/absent that ser2net is not installed. A process
#       OWNER other than 0 is watched, and ser2net stopped when it has gone,
#       so that a crashed test leaves no server behind. With "raw" the
#       accepter is plain TCP: the bytes are the terminal's, without Telnet.
#   ser2net-server.sh stop DIR: stops ser2net, which ends its connections,
#       and writes DIR/stopped once it has gone.
#   ser2net-server.sh settings DIR DEVICE: DIR/settings holds what
#       `stty -a` says of DEVICE, or DIR/error why not.
#   ser2net-server.sh remove DIR: stops ser2net and deletes DIR.
# The tests run it through ser2net_server.cpp: natively they wait for it to
# end, under Wine they start it through Wine's /bin/sh and wait for its
# files (unix_script.h).
set -u
dir=$2
# ser2net lives in sbin, which a user's PATH may lack.
PATH=$PATH:/usr/sbin:/sbin
export PATH
publish() { printf '%s\n' "$2" >"$dir/$1.tmp" && mv "$dir/$1.tmp" "$dir/$1"; }
# True while process $1 runs; a zombie no longer serves anything.
running() {
    state=$(sed -n 's/^.*) \(.\).*$/\1/p' "/proc/$1/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}
# True when process $1 holds the socket that listens on 127.0.0.1:$2. A port
# that answers is not enough: another program may be listening there.
listens() {
    inode=$(awk -v local="$(printf '0100007F:%04X' "$2")" \
        '$2 == local && $4 == "0A" { print $10; exit }' /proc/net/tcp)
    [ -n "$inode" ] || return 1
    for fd in /proc/"$1"/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "socket:[$inode]" ] && return 0
    done
    return 1
}
# Stops the process whose id is in file $1, if any, with signal $2, and
# waits until it has gone, at the last with SIGKILL. ser2net ends its
# connections on SIGTERM; one whose accepter failed ignores the first.
stop_process() {
    [ -f "$1" ] || return 0
    victim=$(cat "$1")
    kill -"$2" "$victim" 2>/dev/null
    waited=0
    while running "$victim" && [ "$waited" -lt 200 ]; do
        waited=$((waited + 1))
        sleep 0.05
    done
    running "$victim" && kill -KILL "$victim" 2>/dev/null
    rm -f "$1"
}
# Starts ser2net on port $2 for device $1; true once it listens there. On a
# port that is taken it keeps running and only logs the failure, so that
# message ends the wait as well.
try_port() {
    cat >"$dir/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &tarn
    accepter: $accepter$2
    enable: on
    options:
      kickolduser: false
      max-connections: 1
      chardelay: false
      mdns: false
    connector: serialdev,$1,9600n81,local
EOF
    # -n: in the foreground (no daemon); -d: its log to the file; -u: no
    # UUCP lock on the terminal.
    ser2net -n -d -u -c "$dir/ser2net.yaml" </dev/null >"$dir/ser2net.log" 2>&1 &
    server=$!
    echo "$server" >"$dir/pid"
    tries=0
    while [ "$tries" -lt 600 ]; do
        listens "$server" "$2" && return 0
        grep -q 'Unable to startup network port' "$dir/ser2net.log" && break
        running "$server" || break
        tries=$((tries + 1))
        sleep 0.05
    done
    stop_process "$dir/pid" KILL
    return 1
}
case $1 in
start)
    device=$3 port=$4 owner=$5
    accepter='telnet(rfc2217),tcp,127.0.0.1,'
    [ "${6:-}" = raw ] && accepter=tcp,127.0.0.1,
    rm -f "$dir/port" "$dir/error" "$dir/stopped"
    command -v ser2net >/dev/null || { publish absent "ser2net is not installed"; exit 1; }
    [ -e "$device" ] || { publish error "no terminal $device"; exit 1; }
    if [ "$port" -ne 0 ]; then
        try_port "$device" "$port" ||
            { publish error "ser2net did not listen on $port: $(cat "$dir/ser2net.log")"; exit 1; }
    else
        # Below Linux's range of ephemeral ports, so that no outgoing
        # connection takes the port meanwhile.
        tries=0
        until [ "$tries" -ge 20 ]; do
            port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 12000))
            try_port "$device" "$port" && break
            tries=$((tries + 1))
        done
        [ "$tries" -lt 20 ] ||
            { publish error "ser2net found no free port: $(cat "$dir/ser2net.log")"; exit 1; }
    fi
    if [ "$owner" -ne 0 ]; then
        server=$(cat "$dir/pid")
        (
            while running "$owner" && running "$server"; do sleep 1; done
            kill "$server" 2>/dev/null
        ) </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/watcher"
    fi
    publish port "$port"
    ;;
stop)
    rm -f "$dir/stopped"
    stop_process "$dir/watcher" TERM
    stop_process "$dir/pid" TERM
    publish stopped yes
    ;;
settings)
    rm -f "$dir/settings" "$dir/error"
    if settings=$(stty -F "$3" -a 2>&1); then
        publish settings "$settings"
    else
        publish error "stty: $settings"
    fi
    ;;
remove)
    stop_process "$dir/watcher" TERM
    stop_process "$dir/pid" TERM
    rm -rf "$dir"
    ;;
esac
