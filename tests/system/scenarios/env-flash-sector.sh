# What the environment costs the flash. The block at 0x2f000 shares its
# erase block with other data: on the ARM board's NOR, sector 0 (256 KiB,
# erased whole); on the x86-64 board the erase block is the block itself.
# A boot that changes nothing erases and writes nothing; each change costs
# exactly one erase and one write; what sector 0 holds outside the block
# is the same after many changes.

# Sector 0 filled with a pattern, the environment block in its place.
env_image "$FLASH" 'bootargs=mem=42M console=ttyS0,115200n8\0serverip=10.0.0.1\0'
pattern() { seq 1 200000 | tr '\n' ' ' | head -c "$1"; }
pattern $((0x2f000)) | dd of="$FLASH" conv=notrunc status=none
pattern $((0x10000)) | dd of="$FLASH" bs=4096 seek=48 conv=notrunc status=none
outside() { { head -c $((0x2f000)) "$FLASH"; dd if="$FLASH" bs=4096 skip=48 count=16 status=none; } | md5sum; }
before=$(outside)

board --timeout 90 -- '
. /host/board-lib.sh
counts() { echo "$(cat $KELBOARD/flash_erases) $(cat $KELBOARD/flash_writes)"; }
record boot_counts "$(counts)"
i=0
while [ $i -lt 20 ]; do
	i=$((i + 1))
	uenv set serverip 10.0.1.$i || exit 1
done
record change_counts "$(counts)"
uenv set serverip 10.0.1.20
record unchanged_counts "$(counts)"
record unerased "$(cat $KELBOARD/unerased_writes)"
'
expect_status 0
[ "$(result boot_counts)" = "0 0" ] || fail "the boot cost erases, writes = $(result boot_counts), expected 0 0"
[ "$(result change_counts)" = "20 20" ] || fail "20 changes cost erases, writes = $(result change_counts), expected 20 20"
[ "$(result unchanged_counts)" = "20 20" ] || fail "a set to the same value cost something: $(result unchanged_counts)"
[ "$(result unerased)" = 0 ] || fail "$(result unerased) writes over bits that NOR cannot set"
[ "$(outside)" = "$before" ] || fail "sector 0 changed outside the environment block"
[ "$(fw_env "$FLASH" -n serverip)" = 10.0.1.20 ] || fail "fw_printenv reads serverip=$(fw_env "$FLASH" -n serverip)"
