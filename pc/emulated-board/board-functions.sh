# Helpers of the emulated board's own side (busybox sh), packed as
# /etc/board/functions.sh: for its /init and for the scripts the tests run
# there.

# kelboard's counters and settings (flash_writes, notifier_calls, ...).
KELBOARD=/sys/module/kelboard/parameters

# uptime_s: the board's uptime in seconds (two decimals).
uptime_s() { cut -d ' ' -f 1 /proc/uptime; }

# wait_for TEST ARG SECONDS: polls `test TEST ARG` every 0.1 s.
wait_for() {
	tries=$(($3 * 10))
	while ! test "$1" "$2"; do
		tries=$((tries - 1))
		[ "$tries" -gt 0 ] || return 1
		usleep 100000
	done
}
