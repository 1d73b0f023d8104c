# Without the daemon nobody feeds softdog: it resets the board once the
# 15-s timeout runs out. Closing the killed daemon's descriptor without the
# magic character feeds it one last time, so that is 15 s after the kill.
board --timeout 90 -- '
. /host/board-lib.sh
sleep 2
record killed_at "$(uptime_s)"
kill -9 $(pidof daemon)
sleep 60
record survived yes
'
expect_status 125
[ ! -f survived ] || fail "the board ran on for 60 s after the daemon died"
reset_at=$(grep -Eo '\[ *[0-9]+\.[0-9]+\] softdog: Initiating system reboot' "$CONSOLE" |
	head -n 1 | tr -d '[]' | awk '{ print $1 }')
[ -n "$reset_at" ] || fail "softdog did not announce the reset"
expect_between "daemon killed to reset" "$(elapsed "$(result killed_at)" "$reset_at")" 14 16.5
