# Shared by the tests that run tray programs in a Wine virtual desktop and
# look at its screen (source it; the caller stops the display at exit).
#   start_display      a private Xvfb (1024x768); sets display
#   stop_display
#   shot NAME          screenshot of the whole screen to $shots/NAME.xwd
#   tray_icon_id XWD   the tray picture shown at the right end of the taskbar
#                      (21, 23, 24, 25, 26), "none", or "unknown"
#   icon_becomes NAME ID S  screenshots $shots/NAME.xwd until the icon is ID,
#                      for up to S seconds
#   wait_ready NAME S  wait up to S seconds for $sync/NAME.ready
#   go NAME            let the program go on past step NAME
#   serve_steps HANDLER  until the session $run_pid ends, for each new
#                      $sync/NAME.ready in order: HANDLER NAME READY_FILE, then
#                      NAME.go; sets run_status to the session's exit code
#   stop_run           end the Wine session started in the background as $run_pid
#   scratch_prefix SHARED DIR [LOGPIXELS]  a fresh prefix in DIR for sessions
#                      whose settings must not reach the shared prefix (a
#                      display scale, a display language): from SHARED's
#                      template, or a copy of SHARED while no session uses it
display=
_xvfb_pid=
run_pid=
_tray_lib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

start_display() {
    local dfile
    dfile=$(mktemp "${TMPDIR:-/tmp}/tray-xvfb.XXXXXX")
    Xvfb -displayfd 9 -nolisten tcp -screen 0 1024x768x24 9>"$dfile" >/dev/null 2>&1 &
    _xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$dfile" ] && break
        sleep 0.05
    done
    display=:$(tr -dc 0-9 < "$dfile")
    rm -f "$dfile"
    [ "$display" != : ] || { echo "Xvfb did not start"; return 1; }
}

stop_display() {
    if [ -n "$_xvfb_pid" ]; then
        kill -TERM "$_xvfb_pid" 2>/dev/null
        wait "$_xvfb_pid" 2>/dev/null
        _xvfb_pid=
    fi
}

shot() {
    xwd -root -silent -display "$display" > "$shots/$1.xwd"
}

tray_icon_id() {
    python3 "$_tray_lib_dir/tray_screen.py" icon "$1"
}

icon_becomes() {
    local name=$1 want=$2 seconds=$3 got= t0=$SECONDS
    while :; do
        shot "$name"
        got=$(tray_icon_id "$shots/$name.xwd")
        [ "$got" = "$want" ] && return 0
        [ $((SECONDS - t0)) -ge "$seconds" ] && break
        sleep 0.3
    done
    echo "  icon $got, not $want"
    return 1
}

wait_ready() {
    local name=$1 seconds=$2
    for _ in $(seq $((seconds * 20))); do
        [ -e "$sync/$name.ready" ] && return 0
        sleep 0.05
    done
    echo "step $name did not come within $seconds s"
    return 1
}

go() { touch "$sync/$1.go"; }

serve_steps() {
    local handler=$1 ready name
    while kill -0 "$run_pid" 2>/dev/null; do
        for ready in "$sync"/*.ready; do
            [ -e "$ready" ] || continue
            name=$(basename "$ready" .ready)
            [ -e "$sync/$name.go" ] && continue
            "$handler" "$name" "$ready"
            touch "$sync/$name.go"
        done
        sleep 0.1
    done
    wait "$run_pid"
    run_status=$?
    run_pid=
}

stop_run() {
    if [ -n "$run_pid" ]; then
        kill "$run_pid" 2>/dev/null
        wait "$run_pid" 2>/dev/null
        run_pid=
    fi
}

scratch_prefix() {
    local shared=$1 dir=$2 value
    rm -rf "$dir" && mkdir -p "$dir" || return 1
    if [ -f "$shared.template.tar" ]; then
        tar -xf "$shared.template.tar" -C "$dir" || return 1
    else
        cp -a "$shared/." "$dir/" || return 1
    fi
    cp "$shared/.wine-run-ready" "$dir/" || return 1
    [ $# -ge 3 ] || return 0
    value=$(printf '"LogPixels"=dword:%08x' "$3")
    sed -i '/^\[Control Panel\\\\Desktop\]/a '"$value" "$dir/user.reg"
    grep -qx "$value" "$dir/user.reg" || { echo "  no display scale in $dir/user.reg"; return 1; }
}
