# An erased flash gets the default environment with the board's console in
# bootargs, written once; Debian's fw_printenv reads the image on the PC; a
# change persists to the next boot, which has nothing to write itself.
erase_board_flash
board --timeout 60 -- '
. /host/board-lib.sh
record probe_writes "$(cat $KELBOARD/flash_writes) $(cat $KELBOARD/unannounced_writes)"
uenv > /host/first-list
uenv set serverip 10.1.2.3
record set_status $?
record writes_after_set "$(cat $KELBOARD/flash_writes) $(cat $KELBOARD/unannounced_writes)"
dmesg > /host/dmesg-1
'
expect_status 0
[ "$(result probe_writes)" = "1 0" ] || fail "first probe: writes, unannounced = $(result probe_writes), expected 1 0"
[ "$(result set_status)" = 0 ] || fail "uenv set exited with $(result set_status)"
[ "$(result writes_after_set)" = "2 0" ] || fail "after the set: $(result writes_after_set), expected 2 0"
grep -q 'env from flash error, .* CRC 6e909c7c != ffffffff' dmesg-1 || fail "no warning about the erased flash"
grep -q 'env from uboot error, .* CRC 603b0489 != 0' dmesg-1 || fail "no warning about the boot loader copy"
grep -q 'uboot bootargs rectify -> (mem=42M console=ttyS0,115200n8)' dmesg-1 || fail "bootargs not rectified"
[ "$(grep -c = first-list)" = 15 ] || fail "uenv listed $(grep -c = first-list) keys, expected 15"
grep -qx 'bootargs=mem=42M console=ttyS0,115200n8' first-list || fail "uenv shows $(grep bootargs first-list)"

echo "$FLASH 0x2f000 0x1000" > fw_env.config
fw_printenv -c fw_env.config > fw-list 2> fw-errors || fail "fw_printenv cannot read the image: $(cat fw-errors)"
# fw_printenv lists in alphabetical order.
sed 's/^serverip=.*/serverip=10.1.2.3/' first-list | sort | diff - <(sort fw-list) > fw-diff ||
	fail "fw_printenv differs from the board: $(cat fw-diff)"

board --timeout 60 -- '
. /host/board-lib.sh
record probe_writes "$(cat $KELBOARD/flash_writes)"
uenv get -n serverip > /host/serverip
dmesg > /host/dmesg-2
'
expect_status 0
[ "$(result probe_writes)" = 0 ] || fail "the second probe wrote $(result probe_writes) times"
[ "$(cat serverip)" = 10.1.2.3 ] || fail "serverip after the reboot: $(cat serverip)"
! grep -q 'Warning - env from' dmesg-2 || fail "the second boot did not take the flash copy"
