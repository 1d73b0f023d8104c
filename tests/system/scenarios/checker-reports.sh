# The runner sees each kind of report the ARM kernel's checkers print: a
# test module (tests/system/checker-faults, built by scripts/build-board,
# never installed) commits one fault of each kind in one boot, and the
# runner must find exactly these kinds in its console. The leak is found by
# the scan at the end of the boot; the hang is reported within seconds,
# with the detector's timeout lowered; the oops comes last, as the lock
# validator and the hang leave the kernel in no state for more.
only_on arm "the x86-64 board's Debian kernel has no lock validator, leak detector or hang detector"
module=$REPO/build-arm/checker-faults/checker_faults.ko
[ -f "$module" ] || fail "no $module: scripts/build-board builds it"
cp "$module" .
expect_checker_reports "memory leak" "sleep in atomic context" "list corruption" "lock checking" \
	"hung task" oops
board --timeout 90 -- '
. /host/board-lib.sh
insmod /host/checker_faults.ko || exit 1
faults=/sys/kernel/debug/checker-faults
# In a process of its own, which ends: its stack must not keep the address.
sh -c "echo leak > $faults"
for fault in sleep-in-atomic list-corruption lock-order; do
	echo $fault > $faults || exit 1
done
echo 1 > /proc/sys/kernel/hung_task_warnings
echo 1 > /proc/sys/kernel/hung_task_timeout_secs
echo hang > $faults &
tries=100
until dmesg | grep -q "INFO: task .* blocked for more than"; do
	tries=$((tries - 1))
	[ $tries -gt 0 ] || { step "no hung task report within 10 s"; exit 1; }
	usleep 100000
done
sh -c "echo oops > $faults"
record oops_status $?
'
expect_status 0
[ "$(result oops_status)" -ne 0 ] || fail "the write that oopsed returned success"
