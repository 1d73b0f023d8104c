# The daemon arms softdog with a 15-s timeout and feeds it: the board stays
# up three times that long.
board --timeout 120 -- '
. /host/board-lib.sh
record timeout "$(cat /sys/class/watchdog/watchdog0/timeout)"
record state "$(cat /sys/class/watchdog/watchdog0/state)"
record started_at "$(uptime_s)"
sleep 45
record daemon_pid "$(pidof daemon)"
record ended_at "$(uptime_s)"
'
expect_status 0
[ "$(result timeout)" = 15 ] || fail "watchdog timeout is $(result timeout) s, expected 15"
[ "$(result state)" = active ] || fail "watchdog is $(result state), expected active"
[ -n "$(result daemon_pid)" ] || fail "the daemon stopped"
expect_no_console 'softdog: Initiating'
expect_between "time up with the daemon feeding" "$(elapsed "$(result started_at)" "$(result ended_at)")" 45 60
