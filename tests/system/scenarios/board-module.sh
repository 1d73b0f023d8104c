# kelboard: refuses to load without its flash device, takes the board-type
# parameter, and releases the flash on unload so that it loads again. The
# release shows where the flash driver is a module that can go then
# (block2mtd on the x86-64 board; the ARM board's NOR driver is built in).
board --timeout 60 -- '
. /host/board-lib.sh
[ -d /sys/module/kelubootenv ] && rmmod kelubootenv
rmmod kelboard && record unloaded yes
insmod /lib/modules/kelboard.ko flash=nothing 2> /dev/null
record missing_flash_status $?
insmod /lib/modules/kelboard.ko board_type=0x22 "flash=\"$KELBOARD_FLASH\"" &&
	record board_type "$(cat $KELBOARD/board_type)"
record flash "$(cat $KELBOARD/flash)"
record expected_flash "$KELBOARD_FLASH"
rmmod kelboard && record reloaded_unloads yes
if [ -d /sys/module/block2mtd ]; then
	rmmod block2mtd && record flash_released yes
fi
'
expect_status 0
[ "$(result unloaded)" = yes ] || fail "kelboard did not unload"
[ "$(result missing_flash_status)" = 19 ] || fail "loading without the flash gave $(result missing_flash_status), expected ENODEV (19)"
expect_console 'kelboard: no MTD device "nothing"'
[ "$(result board_type)" = 34 ] || fail "board_type is $(result board_type), expected 34 (0x22)"
[ "$(result flash)" = "$(result expected_flash)" ] || fail "bound to '$(result flash)'"
[ "$(result reloaded_unloads)" = yes ] || fail "kelboard did not unload a second time"
if [ "$BOARD_ARCH" = x86-64 ]; then
	[ "$(result flash_released)" = yes ] || fail "block2mtd could not be removed after kelboard: MTD reference kept"
fi
