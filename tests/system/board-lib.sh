# Helpers for the board's side of the system scenarios (busybox sh).
# Load with `. /host/board-lib.sh`. The board's own helpers come with it:
# $KELBOARD (kelboard's counters), uptime_s and wait_for.

. /etc/board/functions.sh
# BOARD_ARCH, KELBOARD_FLASH (the MTD name of its flash), HALT.
. /etc/board/board.conf

# alive PID: PID runs (a zombie that nobody reaped yet does not count).
alive() {
	[ -r "/proc/$1/status" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}

# norvels: the pids of the running norvel processes.
norvels() {
	for p in $(pidof norvel); do
		alive "$p" && echo "$p"
	done
}

# record NAME VALUE: leaves VALUE for the PC side (lib.sh `result NAME`).
record() { echo "$2" > "/host/$1"; }

# step TEXT: a marker line on the console, for checking the order of events.
step() { echo "scenario: $*"; }

# wait_for_norvel_restart OLD_PID SECONDS: polls every 0.2 s until OLD_PID
# is gone and another norvel runs; records the uptimes as norvel_killed_at
# and norvel_started_at. Fails when that takes longer than SECONDS.
wait_for_norvel_restart() {
	old=$1 polls=$(($2 * 5)) killed='' pid=''
	while [ "$polls" -gt 0 ]; do
		if [ -z "$killed" ] && ! alive "$old"; then
			killed=$(uptime_s)
			record norvel_killed_at "$killed"
		fi
		pid=$(norvels)
		if [ -n "$killed" ] && [ -n "$pid" ]; then
			record norvel_started_at "$(uptime_s)"
			record norvel_new_pid "$pid"
			return 0
		fi
		usleep 200000
		polls=$((polls - 1))
	done
	step "norvel was not restarted within $2 s"
	return 1
}

# norvel_pid: the one running norvel's pid; fails unless exactly one runs.
norvel_pid() {
	set -- $(norvels)
	[ $# -eq 1 ] || { step "expected one norvel, found: $*"; return 1; }
	echo "$1"
}
