# Sourced by run.sh (and its test): a virtual X display for a run on a
# machine without one, and the lines that say which display it is, how to
# look at it, and how the run ends.
#
#   start_virtual_display FOLDER
#       starts Xvfb on a free display (its number noted in FOLDER/display),
#       exports DISPLAY, sets virtual_display_pid, prints the lines.

start_virtual_display() {
    local folder="$1"
    # Xvfb picks a free display itself and writes its number to fd 3.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$folder/display" 2>/dev/null &
    virtual_display_pid=$!
    for _ in $(seq 100); do [[ -s "$folder/display" ]] && break; sleep 0.1; done
    [[ -s "$folder/display" ]] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$(head -n 1 "$folder/display")"
    echo "No display here: Lumopet runs on a virtual one, DISPLAY=$DISPLAY (Xvfb, 1280x800)."
    echo "  A picture of it:  DISPLAY=$DISPLAY import -window root shot.png"
    if command -v x11vnc >/dev/null; then
        echo "  To watch and use it: x11vnc -display $DISPLAY -localhost, then a VNC viewer on localhost:5900"
    else
        echo "  To watch and use it: install x11vnc, run x11vnc -display $DISPLAY -localhost, then a VNC viewer on localhost:5900"
    fi
    echo "  Ctrl-C here ends everything: Lumopet, the virtual display and the mail servers."
}
