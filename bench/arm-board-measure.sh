# The ARM board's side of bench/arm-board (busybox sh, at /host): measures
# and leaves one file per figure in /host/results.
. /etc/board/functions.sh
out=/host/results
mkdir -p $out
put() { echo "$2" > "$out/$1"; }
now() { cut -d ' ' -f 1 /proc/uptime; }
diff_s() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# The probe, twice: on the flash as it is (nothing to write), then after
# erasing the environment's sector (the default is written). The driver
# core times the probe itself (the module's initcall is not timed once the
# kernel has tracepoints, as the one with the checkers has).
probe_usecs() {
	rmmod kelubootenv 2> /dev/null
	echo 1 > /sys/module/kernel/parameters/initcall_debug
	insmod /lib/modules/kelubootenv.ko
	echo 0 > /sys/module/kernel/parameters/initcall_debug
	dmesg | sed -n 's/.*probe of kel_uenv.0 returned 0 after \([0-9]*\) usecs.*/\1/p' | tail -n 1
}
put probe_unchanged_us "$(probe_usecs)"

# uenv against U-Boot's own fw_printenv, reading the same block, N runs each.
runs=200
fw=/usr/lib/libubootenv-tool/fw_printenv
time_runs() {
	start=$(now)
	i=0
	while [ $i -lt $runs ]; do
		"$@" > /dev/null
		i=$((i + 1))
	done
	diff_s "$start" "$(now)"
}
[ "$($fw -n serverip)" = "$(uenv get -n serverip)" ] && put same_value yes
put uenv_get_s "$(time_runs uenv get -n serverip)"
put fw_get_s "$(time_runs $fw -n serverip)"
put uenv_list_s "$(time_runs uenv list)"
put fw_list_s "$(time_runs $fw)"
put our_fw_list_s "$(time_runs fw_printenv)"
[ "$(fw_printenv | sort)" = "$($fw)" ] && put same_list yes
put runs $runs
# The listing's ioctls alone: the walk of count, key at and value, or one list.
/host/env_list_ioctls 1000 > "$out/list_ioctls"

# A change: its time, and what it costs the flash.
counts() { echo "$(cat $KELBOARD/flash_erases) $(cat $KELBOARD/flash_writes)"; }
before=$(counts)
start=$(now)
i=0
while [ $i -lt 20 ]; do
	i=$((i + 1))
	uenv set serverip 10.9.0.$i
done
put set_s "$(diff_s "$start" "$(now)")"
put set_counts "$before / $(counts)"

# Ten changes as one script, then as ten commands: time and flash cost.
changes='serverip=10.9.1.1 bootargs=mem=42M_console=ttyS0,115200n8_quiet identification=unit-9
device_type=kx9 update_ip=10.9.1.9 serverip=10.9.1.2 identification= device_type=kx10
update_ip= bootargs=mem=42M_console=ttyS0,115200n8'
for change in $changes; do echo "$change" | tr _ ' '; done > /tmp/script
before=$(counts)
start=$(now)
fw_setenv -s /tmp/script
put script_s "$(diff_s "$start" "$(now)")"
put script_counts "$before / $(counts)"
uenv set serverip 10.9.0.0
before=$(counts)
start=$(now)
while IFS== read -r key value; do
	fw_setenv "$key" "$value"
done < /tmp/script
put sets_s "$(diff_s "$start" "$(now)")"
put sets_counts "$before / $(counts)"

# The static daemon: memory, and wake-ups per minute supervising a norvel,
# then idle (norvel hung and, moved away, not relaunched).
pid=$(pidof daemon)
put vmrss_kb "$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' /proc/$pid/status)"
put private_kb "$(awk '/^Private_(Clean|Dirty):/ { kb += $2 } END { print kb }' /proc/$pid/smaps)"
switches() {
	cat /proc/$pid/task/*/status | awk '/ctxt_switches:/ { n += $2 } END { print n }'
}
per_minute() {
	a=$(switches)
	sleep 60
	echo $(($(switches) - a))
}
put wakeups_supervising "$(per_minute)"
mv /home/app/norvel /home/app/norvel.away
kill -USR1 "$(pidof norvel)"
while pidof norvel > /dev/null; do sleep 1; done
sleep 7
put wakeups_idle "$(per_minute)"
mv /home/app/norvel.away /home/app/norvel

# Last, the probe that finds the block's CRC broken (zeros written over it,
# which NOR can do without an erase) and writes the default: one erase and
# one program of the sector.
rmmod kelubootenv
dd if=/dev/zero of=/dev/mtd0 bs=4 count=1 seek=$((0x2f000 / 4)) conv=notrunc 2>/dev/null
before=$(counts)
put probe_written_us "$(probe_usecs)"
put probe_written_counts "$before / $(counts)"
