#!/bin/sh
# The real program end to end under Xvfb: type a bearing, send one, a bearing
# for the log and a track from another program, look at the picture, quit
# through the menu, and find the bearings and the track again after a restart.
#   window_e2e.sh BEARFIX BEARFIX_CLI   (run where map_data/ is)
set -eu
if [ -z "${BEARFIX_E2E_DISPLAY:-}" ]; then
    export BEARFIX_E2E_DISPLAY=1
    exec xvfb-run -a -s '-screen 0 1280x800x24' "$0" "$@"
fi
BEARFIX=$1
CLI=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share"
export XDG_RUNTIME_DIR="$WORK/run" BEARFIX_SOCKET="$WORK/run/bearfix.sock" BEARFIX_GPSD=off
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
INI="$XDG_CONFIG_HOME/bearfix/bearfix.ini"

fail() {
    echo "FAIL: $*" >&2
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    exit 1
}

queued() { [ "$("$CLI" send "$1")" = "0x00000001" ] || fail "not queued: $1"; }

# One run of the window: start it, wait for it, do "$@", quit through the menu.
session() {
    "$BEARFIX" > "$WORK/bearfix.log" 2>&1 &
    pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Bearfix$' | head -n 1)
    [ -n "$window" ] || fail "no window"
    xdotool windowfocus --sync "$window"
    i=0
    while [ ! -S "$BEARFIX_SOCKET" ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
    "$@"
    xdotool key --window "$window" alt+f
    sleep 0.3
    xdotool key q
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    kill -0 "$pid" 2>/dev/null && fail "the window did not close through the menu"
    wait "$pid" || fail "bearfix ended with an error: $(cat "$WORK/bearfix.log")"
    pid=
}

type_send_and_look() {
    sleep 0.5
    # The focus starts in A's position; the next field is A's bearing.
    xdotool key --delay 50 Tab ctrl+a
    xdotool type --delay 50 "275"
    queued 'set brg2x=300'
    queued 'bearing add station="e2e car" lat=51.5 lon=7 brg=45 tol=2'
    queued 'track segment name="e2e" color=0xC000C0'
    for point in "lat=52.00 lon=8.30" "lat=51.90 lon=8.10" "lat=51.80 lon=7.90" "lat=51.70 lon=7.70"; do
        queued "track addpoint $point"
    done
    sleep 1
    import -window root "$WORK/shot.png"
    colours=$(convert "$WORK/shot.png" -format %c histogram:info:-)
    echo "$colours" | grep -qi '#008080' || fail "no teal hatch of observer A in the picture"
    echo "$colours" | grep -qi '#800080' || fail "no purple hatch of observer B in the picture"
    echo "$colours" | grep -qi '#C000C0' || fail "no track in its segment's colour in the picture"
}

# The track sent in the first run is drawn again, from the saved tracks.
look_for_the_track() {
    sleep 1
    import -window root "$WORK/again.png"
    convert "$WORK/again.png" -format %c histogram:info:- | grep -qi '#C000C0' || fail "the track did not come back"
}

session type_send_and_look
grep -qx 'Brg1X=275' "$INI" || fail "the typed bearing is not in $INI"
grep -qx 'Brg2X=300' "$INI" || fail "the remote bearing is not in $INI"
LOG="$(dirname "$INI")/bearings.csv"
grep -q '^e2e car,51.5,7,45,2,,remote,1$' "$LOG" || fail "the remote bearing is not in the log: $(cat "$LOG")"

# A second run writes what its fields hold: the bearings came back.
sed -i 's/^Width=.*/Width=700/' "$INI"
session look_for_the_track
grep -qx 'Brg1X=275' "$INI" || fail "the typed bearing was not restored"
grep -qx 'Brg2X=300' "$INI" || fail "the remote bearing was not restored"
grep -qx 'Width=700' "$INI" || fail "the window size was not restored"
grep -q '^e2e car,' "$LOG" || fail "the bearing log was not kept"
# Under a file-size limit the settings cannot be written: the window says so
# (the box is answered with Return) and closes instead of being killed by
# SIGXFSZ; the old settings stay, with no temporary file beside them.
cp "$INI" "$WORK/before.ini"
prlimit --fsize=64 "$BEARFIX" > "$WORK/bearfix.log" 2>&1 &
pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Bearfix$' | head -n 1)
[ -n "$window" ] || fail "no window under a file-size limit"
xdotool windowfocus --sync "$window"
sleep 0.5
xdotool key --window "$window" alt+f
sleep 0.3
xdotool key q
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 40 ]; do
    sleep 0.25
    xdotool key Return
    i=$((i + 1))
done
kill -0 "$pid" 2>/dev/null && fail "the window did not close under a file-size limit"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "bearfix ended with status $status under a file-size limit: $(cat "$WORK/bearfix.log")"
cmp -s "$INI" "$WORK/before.ini" || fail "the settings changed under a file-size limit"
[ "$(ls "$(dirname "$INI")" | tr '\n' ' ')" = "bearfix.ini bearings.csv tracks.journal " ] || fail "left beside the settings: $(ls "$(dirname "$INI")")"
echo "end to end: ok"
