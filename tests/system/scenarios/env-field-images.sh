# Flash images such as boards in the field carry, each booted once and the
# result judged on the PC by U-Boot's own fw_printenv: long command lines,
# strings left behind the end of the environment by tools that delete in
# place, environments the console rewrite cannot handle, and the last
# bytes of a full block.

# What every boot records first: the probe's flash writes, and /dev/env.
board_checks='
. /host/board-lib.sh
writes() { cat $KELBOARD/flash_writes; }
probe_writes=$(writes)
record probe_writes "$probe_writes"
[ -c /dev/env ] && record bound yes
'

mtdparts='mtdparts=physmap-flash.0:256k(u-boot)ro,64k(env),2m(kernel),12m(rootfs),-(data)'
long_tail=" $mtdparts root=/dev/mtdblock3 rootfstype=jffs2 $(printf 'opt%02d=on ' $(seq 1 30))init=/sbin/init"
[ ${#long_tail} -gt 256 ] || fail "the long tail is only ${#long_tail} characters"

# --- A long bootargs whose console is right, and a deleted serverip behind
# the end: nothing to write at boot; the next change drops the leftover.
env_image "$FLASH" "bootargs=mem=42M console=ttyS0,115200n8$long_tail\0serverip=10.0.0.9\0\0serverip=192.168.1.66\0"
board --timeout 60 -- "$board_checks"'
uenv get -n serverip > /host/serverip
uenv set update_ip 10.0.0.1
record set_writes $(($(writes) - probe_writes))
'
expect_status 0
[ "$(result bound)" = yes ] || fail "A: no /dev/env"
[ "$(result probe_writes)" = 0 ] || fail "A: the probe wrote $(result probe_writes) times; the environment was unchanged"
[ "$(cat serverip)" = 10.0.0.9 ] || fail "A: serverip is $(cat serverip) on the board"
[ "$(result set_writes)" = 1 ] || fail "A: the set wrote $(result set_writes) times"
fw_env "$FLASH" > fw-a || fail "A: fw_printenv cannot read the image"
grep -qxF "bootargs=mem=42M console=ttyS0,115200n8$long_tail" fw-a || fail "A: bootargs cut: $(grep bootargs fw-a)"
grep -qx 'serverip=10.0.0.9' fw-a || fail "A: fw_printenv shows $(grep serverip fw-a)"
grep -qx 'update_ip=10.0.0.1' fw-a || fail "A: the set is not in flash"
! env_block "$FLASH" | grep -qa 192.168.1.66 || fail "A: the deleted serverip came back into the block"

# --- A long bootargs with a console to rewrite, from mkenvimage (0xff
# padding): one write, the end kept whole.
printf '%s\n' "bootargs=mem=42M console=ttyS1,9600$long_tail" 'bootcmd=bootm' > env-b.txt
erase_board_flash
mkenvimage -s 0x1000 -o env-b.bin env-b.txt || fail "B: mkenvimage failed"
dd if=env-b.bin of="$FLASH" bs=4096 seek=47 conv=notrunc status=none
board --timeout 60 -- "$board_checks"
expect_status 0
[ "$(result probe_writes)" = 1 ] || fail "B: the probe wrote $(result probe_writes) times, expected 1"
fw_env "$FLASH" -n bootargs > fw-b || fail "B: fw_printenv cannot read the image"
[ "$(cat fw-b)" = "mem=42M console=ttyS0,115200n8$long_tail" ] || fail "B: bootargs is now '$(cat fw-b)'"

# --- No bootargs: the driver serves the environment, and uenv repairs it.
env_image "$FLASH" 'bootcmd=bootm\0serverip=10.0.0.2\0'
board --timeout 60 -- "$board_checks"'
uenv list > /host/list-c
uenv set bootargs mem=42M console=ttyS0,115200n8; record repair_status $?
dmesg > /host/dmesg-c
'
expect_status 0
[ "$(result bound)" = yes ] || fail "C: no /dev/env without bootargs"
grep -q 'bootargs rectify failed(-22)!' dmesg-c || fail "C: the failed rewrite was not reported"
[ "$(grep -c = list-c)" = 2 ] || fail "C: uenv listed $(cat list-c)"
[ "$(result repair_status)" = 0 ] || fail "C: setting bootargs exited with $(result repair_status)"
[ "$(fw_env "$FLASH" -n bootargs)" = 'mem=42M console=ttyS0,115200n8' ] || fail "C: bootargs not repaired in flash"

# --- A console the rewriter does not know (the PL011 of ARM boards).
env_image "$FLASH" 'bootargs=console=ttyAMA0,115200 root=/dev/mtdblock2\0bootcmd=bootm\0'
board --timeout 60 -- "$board_checks"'
uenv get -n bootargs > /host/bootargs-d
uenv serial; record serial_status $?
dmesg > /host/dmesg-d
'
expect_status 0
[ "$(result bound)" = yes ] || fail "D: no /dev/env with a foreign console"
grep -q 'invalid bootargs!' dmesg-d || fail "D: the unknown console was not reported"
[ "$(cat bootargs-d)" = 'console=ttyAMA0,115200 root=/dev/mtdblock2' ] || fail "D: bootargs is $(cat bootargs-d)"
[ "$(result serial_status)" = 4 ] || fail "D: uenv serial exited with $(result serial_status), expected 4"
[ "$(result probe_writes)" = 0 ] || fail "D: the flash was written"
[ "$(fw_env "$FLASH" -n bootargs)" = 'console=ttyAMA0,115200 root=/dev/mtdblock2' ] || fail "D: flash changed"

# --- A nearly full block: 4089 bytes of strings, no room for the longer
# console. Then the limit: 4091 bytes are taken, 4092 refused. fw_printenv
# itself rejects a block whose strings reach its last byte.
filler=$(head -c 4039 /dev/zero | tr '\0' f)
env_image full.img "bootargs=console=ttyS0,9600\0filler=$filler\0device_type=xyz1\0"
! fw_env full.img > /dev/null 2>&1 || fail "fw_printenv read a block without the empty string at its end"
env_image "$FLASH" "bootargs=console=ttyS0,9600\0filler=$filler\0device_type=x\0"
board --timeout 60 -- "$board_checks"'
uenv set device_type xyz1; record full_status $?
uenv set device_type xyz; record fits_status $?
dmesg > /host/dmesg-e
'
expect_status 0
[ "$(result bound)" = yes ] || fail "E: no /dev/env with a nearly full block"
grep -q 'set bootargs: no room, 4093 of 4091 bytes!' dmesg-e || fail "E: no room warning for the console"
[ "$(result full_status)" = 6 ] || fail "E: a set to 4092 bytes exited with $(result full_status), expected 6"
[ "$(result fits_status)" = 0 ] || fail "E: a set to 4091 bytes exited with $(result fits_status)"
[ "$(fw_env "$FLASH" -n device_type)" = xyz ] || fail "E: fw_printenv cannot read the 4091-byte block"
