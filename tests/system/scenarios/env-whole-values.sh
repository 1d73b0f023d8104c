# Values longer than the old 256-byte record, as kernel command lines with
# mtdparts=, ip= and debug options are: a 1000-character bootargs and a
# 700-character identification, set through fw_setenv and uenv, read back
# whole through uenv get and list, our fw_printenv on the board (and, on
# the ARM board, Debian's own through /dev/mtd0), and Debian's on the PC.
# The driver keeps the console of a long bootargs at the next boot
# without a write; a value the block can never hold, and one that does not
# fit beside the others, are refused with nothing written.

# A command line of 1000 characters, its console where the driver wants it.
long_bootargs="console=ttyS0,115200n8 mtdparts=physmap-flash.0:256k(boot),64k(env),3m(kernel),-(root) ip=10.0.0.50:10.0.0.1:10.0.0.1:255.255.255.0:kelmora:eth0:off root=/dev/mtdblock3 rootfstype=jffs2"
while [ ${#long_bootargs} -lt 990 ]; do
	long_bootargs+=" dyndbg=file$((${#long_bootargs} % 97)).c+p"
done
long_bootargs=${long_bootargs:0:990}
long_bootargs+=" loglevel9"
identification=$(seq -s - 1 500 | head -c 700)
[ ${#long_bootargs} = 1000 ] && [ ${#identification} = 700 ] || fail "the test values are not 1000 and 700 characters long"
printf '%s\n' "$long_bootargs" > bootargs.txt
printf '%s\n' "$identification" > identification.txt

env_image "$FLASH" 'bootargs=mem=42M console=ttyS0,115200n8\0serverip=10.0.0.1\0'
board --timeout 90 -- '
. /host/board-lib.sh
writes() { cat $KELBOARD/flash_writes; }
before=$(writes)
fw_setenv bootargs "$(cat /host/bootargs.txt)"; record set_status $?
# Words joined into one value, as U-Boot'"'"'s fw_setenv joins them.
fw_setenv identification $(cat /host/identification.txt | tr - " ") &&
	fw_setenv identification "$(cat /host/identification.txt)"; record identification_status $?
uenv set update_ip "$(head -c 300 /dev/zero | tr "\0" 9)"; record uenv_set_status $?
record set_writes $(($(writes) - before))
uenv get -n bootargs > /host/uenv-bootargs
uenv get identification > /host/uenv-identification
uenv list > /host/uenv-list
fw_printenv -n bootargs > /host/fw-bootargs
fw_printenv identification > /host/fw-identification
fw_printenv > /host/fw-list
debian=/usr/lib/libubootenv-tool/fw_printenv
[ ! -x $debian ] || $debian -n bootargs > /host/debian-board-bootargs
# Too long for any block, and too long beside the others: nothing written.
before=$(writes)
uenv set bootargs "$(head -c 4082 /dev/zero | tr "\0" a)"; record never_fits_status $?
fw_setenv bootargs "$(head -c 3300 /dev/zero | tr "\0" a)"; record no_room_status $?
record refused_writes $(($(writes) - before))
echo g bootargs > /proc/driver/uenv
# A last line, so that the look-up'"'"'s colour reset is no pending fragment.
echo x > /proc/driver/uenv
dmesg > /host/dmesg
'
expect_status 0
for check in set_status:0 identification_status:0 uenv_set_status:0 never_fits_status:3 no_room_status:6 \
	set_writes:4 refused_writes:0; do
	[ "$(result "${check%:*}")" = "${check#*:}" ] ||
		fail "${check%:*} is $(result "${check%:*}"), expected ${check#*:}"
done
[ "$(cat uenv-bootargs)" = "$long_bootargs" ] || fail "uenv get -n bootargs gave ${#long_bootargs} characters? $(wc -c < uenv-bootargs) bytes"
[ "$(cat fw-bootargs)" = "$long_bootargs" ] || fail "fw_printenv -n bootargs is not the whole value"
[ "$(cat uenv-identification)" = "identification=$identification" ] || fail "uenv get identification is not whole"
[ "$(cat fw-identification)" = "identification=$identification" ] || fail "fw_printenv identification is not whole"
grep -qxF "bootargs=$long_bootargs" uenv-list || fail "uenv list does not show the whole bootargs"
grep -qxF "update_ip=$(head -c 300 /dev/zero | tr '\0' 9)" fw-list || fail "fw_printenv does not list the 300-character update_ip"
cmp -s uenv-list fw-list || fail "uenv list and fw_printenv differ"
if [ "$BOARD_ARCH" = arm ]; then
	[ "$(cat debian-board-bootargs)" = "$long_bootargs" ] || fail "Debian's fw_printenv on the board reads another bootargs"
fi
[ "$(fw_env "$FLASH" -n bootargs)" = "$long_bootargs" ] || fail "Debian's fw_printenv on the PC reads another bootargs"
[ "$(fw_env "$FLASH" -n identification)" = "$identification" ] || fail "Debian's fw_printenv on the PC reads another identification"
fw_env "$FLASH" | diff - <(sort fw-list) > list.diff || fail "Debian's list differs from ours: $(cat list.diff)"
# The proc file's look-up still shows what a record holds.
grep -qF "bootargs =${long_bootargs:0:256}" dmesg || fail "no proc look-up of bootargs"
echo "measured: bootargs ${#long_bootargs} and identification ${#identification} characters read back whole"

# The next boot keeps the long command line, its console right: no write.
board --timeout 60 -- '
. /host/board-lib.sh
record boot_writes "$(cat $KELBOARD/flash_writes)"
uenv get -n bootargs > /host/uenv-bootargs-2
'
expect_status 0
[ "$(result boot_writes)" = 0 ] || fail "the second boot wrote $(result boot_writes) times"
[ "$(cat uenv-bootargs-2)" = "$long_bootargs" ] || fail "after a reboot bootargs is not whole"
