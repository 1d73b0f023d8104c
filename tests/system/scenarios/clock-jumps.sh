# Setting the clock a day forward and two days back does not restart a
# healthy norvel, and setting it back right after norvel hangs does not
# delay its restart.
board --timeout 150 -- '
. /host/board-lib.sh
sleep 4
pid=$(norvel_pid) || exit 1
record healthy_pid "$pid"
step "clock a day forward"
date -s "@$(($(date +%s) + 86400))" > /dev/null
sleep 12
step "clock two days back"
date -s "@$(($(date +%s) - 2 * 86400))" > /dev/null
sleep 12
record after_jumps "$(norvels)"
step "hanging norvel $pid, then clock a day back"
record hung_at "$(uptime_s)"
kill -USR1 "$pid"
date -s "@$(($(date +%s) - 86400))" > /dev/null
wait_for_norvel_restart "$pid" 30 || exit 1
'
expect_status 0
[ "$(result after_jumps)" = "$(result healthy_pid)" ] ||
	fail "the clock jumps restarted a healthy norvel ($(result healthy_pid) -> $(result after_jumps))"
expect_console 'sem_hb recv timed out' 1
expect_console_order 'scenario: hanging norvel' 'sem_hb recv timed out' 'norvel is reboot'
expect_between "hang to kill" "$(elapsed "$(result hung_at)" "$(result norvel_killed_at)")" 6.5 11
expect_between "kill to relaunch" "$(elapsed "$(result norvel_killed_at)" "$(result norvel_started_at)")" 4.3 6.5
