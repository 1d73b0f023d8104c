# /dev/env from a real process: bad pointers fail with EFAULT, wrong command
# words are refused, reads and writes do nothing, a file opened read-only
# cannot change anything (EBADF); the flash is not written.
board_cc -O2 -Wall -Wextra -Werror -I "$REPO/sdk/include" -o env-ioctl-check \
	"$SYSTEM_TESTS/env_ioctl_check.c" || fail "cannot build env_ioctl_check.c"
board --timeout 60 -- '
. /host/board-lib.sh
writes=$(cat $KELBOARD/flash_writes)
/host/env-ioctl-check
record status $?
record new_writes $(($(cat $KELBOARD/flash_writes) - writes))
# The "not support" line ends without a newline: the next message ends it.
echo x > /proc/driver/uenv
dmesg > /host/dmesg
'
expect_status 0
[ "$(result status)" = 0 ] || fail "env_ioctl_check failed: $(grep -h '^FAIL' "$CONSOLE")"
[ "$(result new_writes)" = 0 ] || fail "the flash was written $(result new_writes) times"
grep -q 'ioctl cmd\[0x4500\] not support!' dmesg || fail "no 'not support' line for 0x4500"
grep -q 'ioctl cmd\[0x4506\] not support!' dmesg || fail "no 'not support' line for 0x4506"
