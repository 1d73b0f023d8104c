# Every allocation failed once. For the probe and for each /dev/env
# command that allocates, the 1st, 2nd, ... fault-injection point of the
# operation fails in turn (tests/system/fail_nth.c) until the operation
# runs through with nothing failed. After each try: the operation succeeded
# or said -ENOMEM; what `uenv list` shows is the environment before the
# operation or after it, never a mix, and Debian's fw_printenv on the board
# reads the same from /dev/mtd0; a probe that failed left the device
# unbound. At the end Debian's fw_printenv on the PC reads the last
# environment from the image, the module unloads and loads again, and the
# runner finds no checker report in the console (kmemleak's scan at the end
# of the boot included). The injection points each operation met are listed
# from the console's fault-injection traces. The operations: the probe, the
# set (replace, add, delete), the change set, the whole-value read and the
# listing; then the whole of fw_setenv -s, SCRIPT_TRIES times, with the
# count set in the shell that execs it: each try must end in the whole
# script or in nothing, memory and flash alike.
#
# The probe runs by binding the device through sysfs, not inside insmod:
# this kernel's module loader oopses when its own allocation of a module's
# unwind table fails (module_finalize does not check unwind_table_add), and
# a module oopsed in loading can never be loaded again.
#
# Another command: a line in the list at the end of the board's script,
# and its system call in fail_nth.c.
only_on arm "fault injection (fail-nth) is built into the ARM board's kernel only"
board_cc -O2 -Wall -Wextra -Werror -I "$REPO/sdk/include" -o fail-nth "$SYSTEM_TESTS/fail_nth.c" ||
	fail "cannot build fail_nth.c"

# The probe rewrites this console (ttyS1,9600 to ttyS0,115200n8) and writes
# the block back: every probe that gets that far writes the flash.
console='mem=42M console=ttyS1,9600'
env_image "$FLASH" "bootargs=$console\0bootcmd=bootm 0x80400000\0serverip=10.0.0.1\0ethaddr=02:00:00:00:00:01\0"
env_block "$FLASH" > probe-from.block
fw_env "$FLASH" | LC_ALL=C sort > probe-before || fail "fw_printenv cannot read the image"
sed 's/^bootargs=.*/bootargs=mem=42M console=ttyS0,115200n8/' probe-before > probe-after

# Tries of the whole fw_setenv -s: its exec alone meets a hundred points.
SCRIPT_TRIES=${SCRIPT_TRIES:-300}
board --timeout 1800 -- '
. /host/board-lib.sh
ko=/lib/modules/kelubootenv.ko
fw=/usr/lib/libubootenv-tool/fw_printenv
# Allocations that may sleep fail too, and single pages and those of
# vmalloc: by default only atomic allocations of two pages or more do.
for knob in failslab/ignore-gfp-wait fail_page_alloc/ignore-gfp-wait fail_page_alloc/ignore-gfp-highmem; do
	echo N > /sys/kernel/debug/$knob
done
echo 0 > /sys/kernel/debug/fail_page_alloc/min-order

sorted() { LC_ALL=C sort; }
# The environment as uenv lists it, and as Debian'"'"'s fw_printenv reads it
# from /dev/mtd0 (/etc/fw_env.config).
memory() { uenv list | sorted; }
flash() { $fw 2>&1 | sorted; }
block() { dd if=/dev/mtd0 bs=4096 skip=47 count=1 2> /dev/null; }
bound() { [ -c /dev/env ]; }
failures=0
# bad TEXT: a check failed; the tries go on.
bad() { step "FAIL: $*"; failures=$((failures + 1)); }

# env_state FILE: "before" or "after" when FILE holds that environment.
env_state() {
	if cmp -s "$1" /tmp/before; then echo before
	elif cmp -s "$1" /tmp/after; then echo after
	else echo neither
	fi
}

# fail_each NAME SETUP CHECK OPERATION...: for N = 1, 2, ... SETUP brings
# the board to the state the operation starts from and leaves the
# environments expected before and after it in /tmp/before and /tmp/after;
# OPERATION runs under fail-nth N; CHECK judges how it ended (result,
# success or a negative errno, and state, which it sets). Stops at the first
# N that the operation did not reach. Each try is a line of
# /host/tries-NAME: N, injected or not, result, state.
fail_each() {
	name=$1 setup=$2 check=$3
	shift 3
	n=0
	while :; do
		n=$((n + 1))
		$setup
		dmesg -c > /dev/null
		step "fail-nth $name $n"
		outcome=$(/host/fail-nth $n "$@") || { bad "$name $n: fail-nth did not run"; return; }
		injected=${outcome% *} result=${outcome#* }
		# The driver'"'"'s lines end in a colour reset after the newline: the
		# kernel holds the last one back until another line comes.
		echo "fail-nth $name $n: $outcome" > /dev/kmsg
		state=
		$check "$name $n"
		echo "$n $outcome $state" >> /host/tries-$name
		[ "$injected" = injected ] || break
		[ $n -lt 3000 ] || { bad "$name: still failing points after 3000 tries"; break; }
	done
}

# The probe: the device unbound, and flash holding the block the PC wrote.
driver=/sys/bus/platform/drivers/kel_uenv
probe_setup() {
	if ! block | cmp -s - /host/probe-from.block; then
		bound || echo kel_uenv.0 > $driver/bind
		uenv set bootargs "'"$console"'" || bad "cannot restore bootargs"
		block | cmp -s - /host/probe-from.block || bad "the restored block differs from the one the PC wrote"
	fi
	! bound || echo kel_uenv.0 > $driver/unbind || bad "cannot unbind kel_uenv.0"
	cp /host/probe-before /tmp/before
	cp /host/probe-after /tmp/after
}
probe_check() {
	flash > /tmp/flash
	if bound; then
		[ "$result" = 0 ] || bad "$1: bound, yet the bind returned $result"
		memory > /tmp/memory
		state=$(env_state /tmp/memory)
		cmp -s /tmp/flash /tmp/memory || bad "$1: flash holds another environment than uenv lists"
		[ "$state" != before ] || dmesg | grep -q "bootargs rectify failed" ||
			bad "$1: bound without the console rewrite, and nothing said so"
	else
		state=unbound-$(env_state /tmp/flash)
		# A proc file that cannot be created fails the probe with -ENODEV.
		[ "$result" = -12 ] || { [ "$result" = -19 ] && dmesg | grep -q "Unable to create proc for ubootenv"; } ||
			bad "$1: unbound, and the bind returned $result"
		[ ! -e /proc/driver/uenv ] || bad "$1: unbound, and /proc/driver/uenv is there"
	fi
	case $state in *neither) bad "$1: flash holds neither the environment before nor after" ;; esac
}

# change_setup KEY FROM TO: KEY holds FROM before the change and TO after
# it ("-": KEY absent).
change_setup() {
	value=$1=$2
	[ "$(uenv get $1 2> /dev/null)" = "$value" ] || uenv set "$1" ${2#-}
	memory > /tmp/before
	{ grep -v "^$1=" /tmp/before; [ "$3" = - ] || echo "$1=$3"; } | sorted > /tmp/after
}
change_check() {
	memory > /tmp/memory
	flash > /tmp/flash
	state=$(env_state /tmp/memory)
	case $result:$state in
	0:after|-12:before) ;;
	*:neither) bad "$1: uenv lists neither the environment before the change nor after it" ;;
	*) bad "$1: returned $result, and uenv lists the environment $state the change" ;;
	esac
	cmp -s /tmp/flash /tmp/memory || bad "$1: flash holds another environment than uenv lists"
}

# script_pair NAME CHANGES...: /tmp/NAME.undo, /tmp/NAME.script (CHANGES
# as a fw_setenv script, KEY=VALUE lines) and the environments before and
# after it, /tmp/NAME.before and /tmp/NAME.after, measured once with
# nothing failed.
script_pair() {
	name=$1
	shift
	: > /tmp/$name.script
	: > /tmp/$name.undo
	memory > /tmp/$name.before
	for change; do
		key=${change%%=*}
		echo "$change" >> /tmp/$name.script
		echo "$key=$(sed -n "s/^$key=//p" /tmp/$name.before)" >> /tmp/$name.undo
	done
	fw_setenv -s /tmp/$name.script || bad "$name: the script fails with nothing failed"
	memory > /tmp/$name.after
	fw_setenv -s /tmp/$name.undo || bad "$name: the undo script fails"
	memory | cmp -s - /tmp/$name.before || bad "$name: the undo script does not restore the environment"
}
# script_setup NAME: the environment before the script of NAME.
script_setup() {
	memory > /tmp/memory
	cmp -s /tmp/memory /tmp/$1.before || fw_setenv -s /tmp/$1.undo || bad "$1: cannot undo"
	cp /tmp/$1.before /tmp/before
	cp /tmp/$1.after /tmp/after
}
read_check() {
	memory > /tmp/memory
	state=$(env_state /tmp/memory)
	[ "$result" = 0 ] || [ "$result" = -12 ] || bad "$1: returned $result"
	[ "$state" = before ] || bad "$1: a read changed the environment"
}

# The board booted with the driver, which rewrote the console: the probe
# loop sets it back first.
fail_each probe probe_setup probe_check write $driver/bind kel_uenv.0
bound || echo kel_uenv.0 > $driver/bind
fail_each set-replace "change_setup serverip 10.0.0.1 10.0.0.2" change_check set serverip 10.0.0.2
fail_each set-add "change_setup update_ip - 10.0.0.9" change_check set update_ip 10.0.0.9
fail_each set-delete "change_setup update_ip 10.0.0.9 -" change_check set update_ip
changes="serverip=10.0.0.3 update_ip=10.0.0.8 identification= device_type=kx3"
uenv set identification "unit 7"
script_pair change $changes
fail_each change "script_setup change" change_check change $changes
long=$(head -c 700 /dev/zero | tr "\0" v)
uenv set identification "$long" || bad "cannot set a 700-character value"
fail_each get-value "change_setup identification $long $long" read_check get-value identification
fail_each list "change_setup identification $long $long" read_check list

# The whole of fw_setenv -s under fail-nth, set in the shell that execs it:
# the count runs on through exec into the program. Each try ends in the
# whole script or in nothing. A try that applied it makes the undo script
# the next try'"'"'s, and the other way round.
script_pair script $changes bootargs="mem=42M console=ttyS0,115200n8 quiet"
script_setup script
forward=/tmp/script.script backward=/tmp/script.undo
n=0
while [ $n -lt '"$SCRIPT_TRIES"' ]; do
	n=$((n + 1))
	step "fail-nth fw_setenv-s $n"
	( echo $n > /proc/thread-self/fail-nth && exec fw_setenv -s $forward ) > /dev/null 2>&1
	result=$?
	memory > /tmp/memory
	state=$(env_state /tmp/memory)
	[ "$state" != neither ] || bad "fw_setenv -s $n: exit status $result, and uenv lists neither the environment before the script nor after it"
	[ "$result" != 0 ] || [ "$state" = after ] || bad "fw_setenv -s $n: exit status 0, and the environment is $state the script"
	flash | cmp -s - /tmp/memory || bad "fw_setenv -s $n: flash holds another environment than uenv lists"
	echo "$n status-$result $state" >> /host/script-tries
	if [ "$state" = after ]; then
		mv /tmp/before /tmp/swap && mv /tmp/after /tmp/before && mv /tmp/swap /tmp/after
		swap=$forward forward=$backward backward=$swap
	fi
done

rmmod kelubootenv && insmod $ko && bound && record reloaded yes
memory > /host/final-memory
record failures $failures
'
expect_status 0
[ "$(result failures)" = 0 ] ||
	fail "$(result failures) checks failed: $(grep -o 'scenario: FAIL: .*' "$CONSOLE" | head -n 5 | sed 's/^scenario: FAIL: //')"
[ "$(result reloaded)" = yes ] || fail "the driver did not unload and load again after the tries"
fw_env "$FLASH" | LC_ALL=C sort | diff final-memory - > final.diff ||
	fail "Debian's fw_printenv reads another environment from the image: $(cat final.diff)"

# Where each injected failure struck: the first caller outside the
# allocators in the trace that follows the console's "forcing a failure"
# (allocations that ask for no warning, kmemleak's records of allocations
# among them, fail without a trace).
allocator='^(_*should_|fail_dump|dump_stack|show_stack|unwind_backtrace|slab_|_*kmem_cache_alloc|_*kmalloc|kmalloc|_*do_kmalloc|kstr|kmemdup|kvasprintf|kasprintf|_*kvmalloc|_*vmalloc|vzalloc|vm_area_alloc|alloc_vmap_area|_*get_vm_area|prepare_alloc_pages|_*alloc_pages|alloc_pages|_*get_free_pages|get_zeroed_page|cache_grow|_*cache_alloc|kmem_getpages|fallback_alloc)'
awk -v allocator="$allocator" '
	/^scenario: fail-nth / { name = $3; tracing = 0; next }
	/FAULT_INJECTION: forcing a failure/ { tracing = 1; next }
	tracing && / from / {
		caller = $0
		sub(/.* from /, "", caller)
		function_name = caller
		sub(/[+ ].*/, "", function_name)
		if (function_name ~ allocator)
			next
		module = caller ~ /\[[a-z_]+\]$/ ? caller : ""
		sub(/.*\[/, "", module)
		sub(/\]/, "", module)
		print name, module ? module : "kernel", function_name
		tracing = 0
	}' "$CONSOLE" > points

# A failure injected into the zero-filling of a program's bss (padzero)
# does not stop this kernel's exec (elf_load ignores what padzero
# returns): the program starts on a bss that is not zero, and musl's
# start-up follows a stray pointer (unaligned on the ARM board: an
# alignment fix-up, then a segmentation fault). Such a try must still
# leave the environment as it was; no other fix-up is excused.
awk '
	/FAULT_INJECTION: forcing a failure/ { tracing = 1; next }
	tracing && / PID: / { pid = $0; sub(/.* PID: /, "", pid); sub(/ .*/, "", pid); next }
	tracing && /padzero/ { unzeroed[pid] = 1 }
	/Alignment trap: / {
		tracing = 0
		trap_pid = $0
		sub(/.*\(/, "", trap_pid)
		sub(/\).*/, "", trap_pid)
		print (trap_pid in unzeroed ? "unzeroed-bss" : "unexplained"), $0
	}' "$CONSOLE" > alignment-traps
! grep -q '^unexplained' alignment-traps ||
	fail "alignment fix-ups with no failed zero-fill of a bss before them: $(grep -m 3 '^unexplained' alignment-traps)"
excuse_alignment_fixups "$(grep -c '^unzeroed-bss' alignment-traps)"

# What each operation met: tries, the points failed, how each ended, and
# where the traced ones lie.
for tries in tries-* script-tries; do
	name=${tries#tries-}
	[ "$tries" != script-tries ] || name=fw_setenv-s
	[ "$tries" != script-tries ] || awk '{ ends[$2 " " $3]++ } END {
		printf "measured: fw_setenv -s: %d tries, ending:", NR
		for (e in ends)
			printf " %s x%d,", e, ends[e]
		printf "\n" }' script-tries
	[ "$tries" = script-tries ] || awk -v name="$name" '
		$2 == "injected" { failed++; ends[$3 " " $4]++ }
		END {
			printf "measured: %s: %d tries, %d points failed, ending:", name, NR, failed
			for (e in ends)
				printf " %s x%d,", e, ends[e]
			printf "\n"
		}' "$tries"
	awk -v name="$name" '
		$1 == name { n[$2]++; at[$2 " " $3]++ }
		END {
			for (m in n) {
				printf "measured:   %d traced in %s:", n[m], m
				for (a in at)
					if (index(a, m " ") == 1)
						printf " %s x%d", substr(a, length(m) + 2), at[a]
				printf "\n"
			}
		}' points
done
