# norvel is replaced for a while by a program that exits at once, and the
# real one hangs. The daemon launches again and again, one line per try,
# each failure doubling the wait for a register and the pause before the
# next launch. Once the real norvel is back it registers, and its hang is
# caught and relaunched with the first 5-s pause again.
board --timeout 200 -- '
. /host/board-lib.sh
sleep 4
pid=$(norvel_pid) || exit 1
mv /home/app/norvel /home/app/norvel.real
cat > /home/app/norvel <<EOF
#!/bin/sh
cut -d " " -f 1 /proc/uptime >> /tmp/failed-starts
exit 1
EOF
chmod 755 /home/app/norvel
step "norvel replaced by a program that exits at once; hanging norvel $pid"
record hung_at "$(uptime_s)"
kill -USR1 "$pid"
# The relaunch and the first retry.
polls=400
while [ "$(cat /tmp/failed-starts 2>/dev/null | wc -l)" -lt 2 ]; do
	polls=$((polls - 1))
	[ "$polls" -gt 0 ] || { step "the daemon did not launch twice within 40 s"; exit 1; }
	usleep 100000
done
mv /home/app/norvel.real /home/app/norvel
step "the real norvel is back"
# The second retry launches it, after a 20-s wait and a 20-s pause.
polls=600
while [ -z "$(norvels)" ]; do
	polls=$((polls - 1))
	[ "$polls" -gt 0 ] || { step "no norvel within 60 s"; exit 1; }
	usleep 100000
done
record back_at "$(uptime_s)"
cp /tmp/failed-starts /host/failed-starts
sleep 4
pid=$(norvel_pid) || exit 1
step "hanging norvel $pid"
kill -USR1 "$pid"
wait_for_norvel_restart "$pid" 30 || exit 1
sleep 2
'
expect_status 0
[ "$(wc -l < failed-starts)" -eq 2 ] || fail "the program that exits at once ran $(wc -l < failed-starts) times, expected 2"
expect_console 'norvel not reged in [0-9]+ s, retry' 2
expect_no_console 'norvel not reged in [0-9]+ s, launch'
expect_console_order 'scenario: norvel replaced' 'sem_hb recv timed out' 'norvel is reboot' \
	'daemon: norvel not reged in 10 s, retry 1' 'scenario: the real norvel is back' \
	'daemon: norvel not reged in 20 s, retry 2' 'daemon: norvel is reged' \
	'daemon: norvel reged after 2 retries' 'scenario: hanging norvel' 'sem_hb recv timed out' \
	'norvel is reboot' 'daemon: norvel is reged'
first_start=$(sed -n 1p failed-starts) second_start=$(sed -n 2p failed-starts)
# Hang to kill 7 to 10 s, then the 5-s pause.
expect_between "hang to the first failed start" "$(elapsed "$(result hung_at)" "$first_start")" 11.5 16.5
# 10 s without a register, then a 10-s pause; 20 s and a 20-s pause.
expect_between "first to second failed start" "$(elapsed "$first_start" "$second_start")" 19.5 22
expect_between "second failed start to the real norvel" "$(elapsed "$second_start" "$(result back_at)")" 39.5 43
expect_between "kill to relaunch after the register" "$(elapsed "$(result norvel_killed_at)" "$(result norvel_started_at)")" 4.3 6.5
