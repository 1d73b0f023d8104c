# Many clients at once (tests/system/env_traffic.c): two writers of single
# sets, two of change sets, two readers that check every value they see is
# whole and that a change set's two keys never disagree, and shell loops of
# uenv, fw_printenv and the proc file. Meanwhile the device is unbound and
# bound again under the open files (rmmod is refused while a file opened
# before the unbind is open),
# then, with clients that open /dev/env for each call, the module is
# unloaded and loaded again. At the end the environment is whole, flash
# (Debian's fw_printenv on the PC, and on the ARM board through /dev/mtd0)
# agrees with the last listing, and, on the ARM board, no checker spoke.
board_cc -O2 -Wall -Wextra -Werror -I "$REPO/sdk/include" -o env-traffic "$SYSTEM_TESTS/env_traffic.c" ||
	fail "cannot build env_traffic.c"
env_image "$FLASH" 'bootargs=mem=42M console=ttyS0,115200n8\0bootcmd=bootm 0x80400000\0serverip=10.0.0.1\0'

board --timeout 240 -- '
. /host/board-lib.sh
ko=/lib/modules/kelubootenv.ko
driver=/sys/bus/platform/drivers/kel_uenv
problem() { step "FAIL: $*"; echo "$*" >> /host/problems; }
# clients SECONDS [reopen]: the six programs, their lines to /host/traffic;
# their pids in $pids.
clients() {
	pids=
	for role in set change read; do
		for id in 1 2; do
			/host/env-traffic $role $id "$@" >> /host/traffic 2>> /host/traffic-errors &
			pids="$pids $!"
		done
	done
}
shell_readers() {
	while [ ! -e /tmp/stop ]; do
		uenv list > /dev/null 2>&1
		fw_printenv -n identification > /dev/null 2>&1
		cat /proc/driver/uenv > /dev/null 2>&1
		echo "g device_type" 2> /dev/null > /proc/driver/uenv
	done
}

shell_readers & readers=$!
step "open files: unbind and bind"
# A file opened before the first unbind holds the module to the end of
# the phase, whatever the clients have open at the moment.
exec 3< /dev/env
clients 8
refused=0 cycles=0
while [ $cycles -lt 5 ]; do
	usleep 700000
	echo kel_uenv.0 > $driver/unbind || problem "cannot unbind"
	usleep 300000
	echo kel_uenv.0 > $driver/bind || problem "cannot bind"
	rmmod kelubootenv 2> /dev/null || refused=$((refused + 1))
	cycles=$((cycles + 1))
done
wait $pids
exec 3<&-
record rmmod_refused $refused

step "a file for each call: unload and load"
clients 8 reopen
unloads=0 cycles=0
while [ $cycles -lt 50 ]; do
	usleep 150000
	if rmmod kelubootenv 2> /dev/null; then
		unloads=$((unloads + 1))
		usleep 100000
		insmod $ko || problem "cannot load the module again"
	fi
	cycles=$((cycles + 1))
done
wait $pids
record unloads $unloads
touch /tmp/stop
wait $readers

[ -c /dev/env ] || insmod $ko
/host/env-traffic check 0 0 >> /host/traffic 2>> /host/traffic-errors
record check_status $?
uenv list > /host/final-list
debian=/usr/lib/libubootenv-tool/fw_printenv
[ ! -x $debian ] || $debian > /host/final-flash-board 2>&1
'
expect_status 0
[ ! -s problems ] || fail "$(head -n 3 problems)"
[ ! -s traffic-errors ] || fail "the clients saw: $(head -n 5 traffic-errors)"
[ "$(grep -c ' 0 torn, 0 failed$' traffic)" = 13 ] || fail "clients did not all end clean: $(cat traffic)"
[ "$(result check_status)" = 0 ] || fail "the environment left at the end is not whole"
[ "$(result rmmod_refused)" = 5 ] || fail "rmmod was let through $((5 - $(result rmmod_refused))) times with files open"
[ "$(result unloads)" -ge 1 ] || fail "the module never unloaded between calls"
LC_ALL=C sort final-list > final-list.sorted
fw_env "$FLASH" | LC_ALL=C sort | diff final-list.sorted - > final.diff ||
	fail "Debian's fw_printenv reads another environment from the image: $(cat final.diff)"
if [ -e final-flash-board ]; then
	LC_ALL=C sort final-flash-board | diff final-list.sorted - > final-board.diff ||
		fail "flash read on the board differs from the last listing: $(cat final-board.diff)"
fi
awk '{ calls += $4; gone += $6 } END {
	printf "measured: %d calls by 12 clients, %d of them on a device gone\n", calls, gone }' traffic
echo "measured: module unloaded and loaded $(result unloads) times between calls"
