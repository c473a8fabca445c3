# Sourced by the screenshot scripts: finding Lumopet's windows on a display
# without a window manager, clicking in them, and saving their pictures;
# starting the virtual display, the local mail servers and the program, and
# ending them. shot, hover_shot and small_png write into the folder named
# by $out.

# The first visible window whose name matches; stops the script when there
# is none within 5 seconds.
find_window() {
    local found
    found=$(timeout 5 xdotool search --sync --onlyvisible --name "$1" | head -n 1)
    # import would wait for a click on an empty id: stop here instead.
    [[ -n "$found" ]] || { echo "No window named $1" >&2; exit 1; }
    echo "$found"
}
# Clicks at a point given in pixels inside a window.
click_in() {
    # No window manager stacks the windows: bring the one clicked to the top.
    xdotool windowraise "$1"
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2)) $((Y + $3)) click 1
    sleep 0.4
}
# Saves the window of that name as out/FILE.
shot() {
    local found
    found=$(find_window "$1")
    import -window "$found" "$out/$2"
}
# Saves the window as out/FILE with the mouse resting at a point in it, so
# that the help text of what lies under it shows.
hover_shot() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + $2)) $((Y + $3))
    sleep 0.4
    import -window "$1" "$out/$4"
}

# ---------------------------------------------------------- a run's setup
# start_display, start_mail_servers and start_lumopet leave their process
# ids and folders in globals ($xvfb, $servers, $program, $home) so that one
# `trap stop_screenshot_run EXIT` ends whatever a script started.

# Starts Xvfb on a free display (it picks the number itself, so that two
# scripts never share one) and exports DISPLAY for Qt's xcb platform.
start_display() {
    local number_file
    number_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" 2>/dev/null &
    xvfb=$!
    for _ in $(seq 100); do [[ -s "$number_file" ]] && break; sleep 0.1; done
    local number
    number=$(head -n 1 "$number_file")
    rm -f "$number_file"
    [[ -n "$number" ]] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
}

# Starts the local mail servers in $home/servers with one account
# (NAME:PASSWORD) and trusts their certificate; server_field then prints
# what they answered (smtp, pop3, ca).
start_mail_servers() {
    servers="$home/servers"
    mkdir -m 0700 "$servers"
    server_info=$(/usr/bin/python3 scripts/mail_servers.py start --dir "$servers" --account "$1" | tail -n 1)
    LUMOPET_CA_FILE=$(server_field ca)
    export LUMOPET_CA_FILE
}
server_field() { /usr/bin/python3 -c 'import json,sys; print(json.loads(sys.argv[1])[sys.argv[2]])' "$server_info" "$1"; }

# Starts the built program on the program folder $home and waits for its
# main window ($window).
start_lumopet() {
    LUMOPET_HOME="$home" build/lumopet &
    program=$!
    window=$(timeout 10 xdotool search --sync --onlyvisible --name 'Ver 2.13' | head -n 1)
    [[ -n "$window" ]] || { echo "Lumopet's main window did not show" >&2; exit 1; }
}

stop_screenshot_run() {
    [[ -z "${program:-}" ]] || kill "$program" 2>/dev/null || true
    if [[ -n "${servers:-}" && -d "$servers" ]]; then
        /usr/bin/python3 scripts/mail_servers.py stop --dir "$servers" >/dev/null 2>&1 || true
    fi
    [[ -z "${xvfb:-}" ]] || kill "$xvfb" 2>/dev/null || true
    [[ -z "${home:-}" ]] || rm -rf "$home"
}

# Shrinks out/NAME.png in place and prints its path: a window of flat
# colours loses nothing in a palette.
small_png() {
    local name
    for name in "$@"; do
        convert "$out/$name.png" -colors 128 "PNG8:$out/$name.png"
        echo "$out/$name.png"
    done
}
