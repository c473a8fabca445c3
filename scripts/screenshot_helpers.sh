# Sourced by the screenshot scripts: finding Lumopet's windows on a display
# without a window manager, clicking in them, and saving their pictures.
# shot and hover_shot write into the folder named by $out.

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
