# Helpers for the system scenarios (bash). The runner sources this in the
# scenario's own directory, with SCENARIO, SCENARIO_DIR, REPO, SYSTEM_TESTS
# and BOARD_ARCH (x86-64 or arm) set.
#
# The scenario directory is shared with the board at /host: board-lib.sh
# is there for the board's side, and the board leaves its measurements
# there as files (see `record` in board-lib.sh) for `result` to read.

# The helpers of the emulated boards: erase_flash FILE and elapsed FROM TO.
. "$REPO/pc/emulated-board/lib.sh"

BOOTS=0
FLASH=$SCENARIO_DIR/flash.img
# The board's flash: 256 KiB on block2mtd, or the ARM board's 64-MiB NOR.
FLASH_BYTES=$((256 * 1024))
[ "$BOARD_ARCH" = x86-64 ] || FLASH_BYTES=$((64 * 1024 * 1024))

fail() {
	echo "FAIL: $*"
	exit 1
}

# expect_checker_reports KIND...: the scenario plants faults, and its boots
# must show a report of each of these kinds (as pc/emulated-board/lib.sh's
# checker_report_kind names them) and of no other; the runner checks.
expect_checker_reports() {
	printf '%s\n' "$@" > "$SCENARIO_DIR/expected-checker-reports"
}

# excuse_alignment_fixups N: N of the user fix-ups that the ARM board's
# consoles show are explained by the scenario, which checked each; the
# runner fails the scenario on any more, or on one in the kernel.
excuse_alignment_fixups() {
	echo "$1" > "$SCENARIO_DIR/excused-alignment-fixups"
}

# erase_board_flash [FILE]: FILE (default $FLASH) as this board's flash
# comes new: erased, at its size.
erase_board_flash() {
	erase_flash "${1:-$FLASH}" "$FLASH_BYTES"
}

# only_on ARCH REASON: the scenario does not apply to the other board; the
# runner reports it skipped, with REASON.
only_on() {
	[ "$BOARD_ARCH" = "$1" ] && return 0
	echo "SKIP: $2"
	exit 77
}

# board_cc ARGS: a C compiler for programs the board runs (static).
board_cc() {
	if [ "$BOARD_ARCH" = x86-64 ]; then
		gcc -static "$@"
	else
		arm-linux-musleabi-gcc -static -march=armv5te -mfloat-abi=soft -marm \
			-isystem "$REPO/build-arm/arm-musl-kernel-headers" "$@"
	fi
}

# env_image FILE STRINGS [FILL]: an erased flash image whose environment
# block at 0x2f000 holds STRINGS (printf %b escapes: 'a=1\0b=2\0') from
# its fifth byte, then FILL bytes up to its end (00, as the driver writes
# blocks, or ff), under a valid CRC. gzip's trailer holds the CRC-32 of its
# input, the one U-Boot uses.
env_image() {
	local data
	data=$(mktemp)
	{ printf '%b' "$2"; head -c 4092 /dev/zero | tr '\0' "\\$(printf %03o "0x${3:-00}")"; } |
		head -c 4092 > "$data"
	erase_board_flash "$1"
	{ gzip -c < "$data" | tail -c 8 | head -c 4; cat "$data"; } |
		dd of="$1" bs=4096 seek=47 conv=notrunc status=none
	rm -f "$data"
}

# env_block FILE: the 4096-byte environment block of a flash image.
env_block() {
	dd if="$1" bs=4096 skip=47 count=1 status=none
}

# fw_env FILE [fw_printenv ARGS]: what U-Boot's fw_printenv reads there.
fw_env() {
	local config
	config=$(mktemp)
	echo "$1 0x2f000 0x1000" > "$config"
	shift
	fw_printenv -c "$config" "$@"
	local status=$?
	rm -f "$config"
	return $status
}

# board [pc/emulated-board/run options] -- COMMAND: one boot of the board on $FLASH with
# the scenario directory at /host. Sets BOARD_STATUS (pc/emulated-board/run's status) and
# CONSOLE (the console log of this boot).
board() {
	BOOTS=$((BOOTS + 1))
	CONSOLE=$SCENARIO_DIR/console-$BOOTS.log
	cp "$SYSTEM_TESTS/board-lib.sh" "$SCENARIO_DIR/"
	[ -f "$FLASH" ] || erase_board_flash
	local options=()
	while [ $# -gt 0 ] && [ "$1" != -- ]; do
		options+=("$1")
		shift
	done
	echo "boot $BOOTS: pc/emulated-board/run ${options[*]} -- $(grep -m 1 . <<< "${*:2}")"
	"$REPO/pc/emulated-board/run" --arch "$BOARD_ARCH" --no-build --flash "$FLASH" --share "$SCENARIO_DIR" \
		--log "$CONSOLE" "${options[@]}" "$@" \
		> /dev/null 2> "$SCENARIO_DIR/vm-run-$BOOTS.err"
	BOARD_STATUS=$?
	sed 's/^/  /' "$SCENARIO_DIR/vm-run-$BOOTS.err"
}

expect_status() {
	[ "$BOARD_STATUS" -eq "$1" ] || fail "pc/emulated-board/run exited with $BOARD_STATUS, expected $1"
}

# console_count ERE: lines of this boot's console that match.
console_count() {
	grep -Ec -- "$1" "$CONSOLE"
}

# expect_console ERE [COUNT]: at least one matching line, or exactly COUNT.
expect_console() {
	local n
	n=$(console_count "$1")
	if [ $# -ge 2 ]; then
		[ "$n" -eq "$2" ] || fail "console: $n lines match '$1', expected $2"
	else
		[ "$n" -gt 0 ] || fail "console: no line matches '$1'"
	fi
}

expect_no_console() {
	local line
	line=$(grep -Em 1 -- "$1" "$CONSOLE") && fail "console: unexpected line '$line'"
	return 0
}

# expect_console_order ERE...: a line matching each ERE, each one after
# the line that matched the previous ERE.
expect_console_order() {
	local ere line after=0 previous_ere="the start"
	for ere in "$@"; do
		line=$(tail -n +$((after + 1)) "$CONSOLE" | grep -Enm 1 -- "$ere" | cut -d : -f 1)
		[ -n "$line" ] || fail "console: no line matches '$ere' after '$previous_ere'"
		after=$((after + line)) previous_ere=$ere
	done
}

# result NAME: what the board recorded under NAME.
result() {
	[ -f "$SCENARIO_DIR/$1" ] || fail "the board recorded no '$1'"
	cat "$SCENARIO_DIR/$1"
}

# expect_between WHAT VALUE LOW HIGH: LOW <= VALUE <= HIGH, and prints it
# as a measurement.
expect_between() {
	echo "measured: $1 $2 s"
	awk -v v="$2" -v lo="$3" -v hi="$4" 'BEGIN { exit !(v >= lo && v <= hi) }' ||
		fail "$1 was $2 s, expected $3 to $4 s"
}
