# A norvel that stops its heartbeats (SIGUSR1) is killed when the 10-s
# window after its last heartbeat closes, and relaunched 5 s later; the new
# instance registers again.
board --timeout 120 -- '
. /host/board-lib.sh
sleep 4
pid=$(norvel_pid) || exit 1
step "hanging norvel $pid"
record hung_at "$(uptime_s)"
kill -USR1 "$pid"
wait_for_norvel_restart "$pid" 30 || exit 1
sleep 3
record running "$(norvels)"
'
expect_status 0
expect_console_order 'daemon: norvel is reged' 'scenario: hanging norvel' 'sem_hb recv timed out' \
	'norvel is reboot' 'daemon: norvel is reged'
expect_console 'sem_hb recv timed out' 1
[ "$(result running)" = "$(result norvel_new_pid)" ] || fail "the relaunched norvel did not stay up alone"
# Heartbeats come every 3 s: the window closes 7 to 10 s after the hang.
expect_between "hang to kill" "$(elapsed "$(result hung_at)" "$(result norvel_killed_at)")" 6.5 11
expect_between "kill to relaunch" "$(elapsed "$(result norvel_killed_at)" "$(result norvel_started_at)")" 4.3 6.5
