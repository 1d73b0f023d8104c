# What the board writes to its flash lands in the image on the PC and is
# read back at the next boot. Raw writes to /dev/mtd0 come without notifier
# event 8, so kelboard counts them as unannounced.
erase_board_flash
board --timeout 60 -- '
. /host/board-lib.sh
record board_type "$(cat $KELBOARD/board_type)"
record writes_before "$(cat $KELBOARD/flash_writes) $(cat $KELBOARD/unannounced_writes)"
printf "kelmora flash test" | dd of=/dev/mtd0 bs=4096 seek=16 conv=sync 2> /dev/null
record writes_after "$(cat $KELBOARD/flash_writes) $(cat $KELBOARD/unannounced_writes)"
'
expect_status 0
[ "$(result board_type)" = 16 ] || fail "board type is $(result board_type), expected 16 (0x10)"
read -r writes unannounced < writes_before
read -r writes_after unannounced_after < writes_after
[ "$writes_after" -gt "$writes" ] || fail "kelboard counted no flash write"
[ $((unannounced_after - unannounced)) -eq $((writes_after - writes)) ] ||
	fail "raw writes counted as announced: $(cat writes_before) -> $(cat writes_after)"
expect_console 'kelboard: flash write at 0x10000, .*not announced by event 8'
on_pc=$(dd if="$FLASH" bs=4096 skip=16 count=1 2> /dev/null | head -c 18)
[ "$on_pc" = "kelmora flash test" ] || fail "the image on the PC holds '$on_pc'"

board --timeout 60 -- '
. /host/board-lib.sh
record read_back "$(dd if=/dev/mtd0 bs=4096 skip=16 count=1 2> /dev/null | head -c 18)"
'
expect_status 0
[ "$(result read_back)" = "kelmora flash test" ] || fail "the second boot read '$(result read_back)'"
