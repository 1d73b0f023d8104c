# fw_setenv -s applies a script as one change set: a 10-line script (sets
# and deletes, U-Boot's and libubootenv's line forms mixed, a key set and
# deleted again) costs exactly one erase and one write of the flash, and
# leaves the environment that Debian's fw_setenv -s makes of the same
# changes on a copy of the image on the PC. Applied again it changes
# nothing and writes nothing. A script with a refused line, and one that
# would overflow the block, write nothing and leave the environment as it
# was; the message names the line.

env_image "$FLASH" 'bootargs=mem=42M console=ttyS0,115200n8\0bootcmd=bootm 0x80400000\0ethaddr=02:00:00:00:00:01\0serverip=10.0.0.1\0update_ip=10.0.0.9\0'
cp "$FLASH" pc.img
cat > script.txt <<'SCRIPT'
# field update: both line forms
serverip 10.0.0.20
bootargs=mem=64M console=ttyS0,115200n8 root=/dev/mtdblock3 rootfstype=jffs2
identification   unit 7 of 9
device_type=kx3
update_ip

serverip=10.0.0.21
identification=
device_type   kx4
update_ip 10.0.0.200
bootargs mem=64M console=ttyS0,115200n8 root=/dev/mtdblock3 quiet
SCRIPT
# The same changes in libubootenv's form, which Debian's fw_setenv reads.
cat > script-pc.txt <<'SCRIPT'
serverip=10.0.0.20
bootargs=mem=64M console=ttyS0,115200n8 root=/dev/mtdblock3 rootfstype=jffs2
identification=unit 7 of 9
device_type=kx3
update_ip=
serverip=10.0.0.21
identification=
device_type=kx4
update_ip=10.0.0.200
bootargs=mem=64M console=ttyS0,115200n8 root=/dev/mtdblock3 quiet
SCRIPT
[ "$(grep -vc '^#\|^$' script.txt)" = 10 ] || fail "the script does not hold 10 changes"
# A read-only key on line 3, and a script whose result passes 4091 bytes.
printf '%s\n' 'serverip 10.0.0.30' 'device_type kx5' 'ethaddr 02:00:00:00:00:02' 'update_ip 1' > refused.txt
{ echo "identification $(head -c 2000 /dev/zero | tr '\0' i)"; echo 'serverip 10.0.0.31';
  echo "bootargs console=ttyS0,115200n8 $(head -c 2100 /dev/zero | tr '\0' b)"; } > overflow.txt

board --timeout 90 -- '
. /host/board-lib.sh
counts() { echo "$(cat $KELBOARD/flash_erases) $(cat $KELBOARD/flash_writes)"; }
# run NAME COMMAND...: its status, messages, cost and the environment after.
run() {
	name=$1
	shift
	before=$(counts)
	"$@" 2> /host/$name.err
	record ${name}_status $?
	after=$(counts)
	record ${name}_cost "$((${after% *} - ${before% *})) $((${after#* } - ${before#* }))"
	uenv list > /host/$name.list
	dd if=/dev/mtd0 bs=4096 skip=47 count=1 2> /dev/null | md5sum > /host/$name.flash
}
uenv list > /host/start.list
run script fw_setenv -s /host/script.txt
run again fw_setenv -s /host/script.txt
run refused fw_setenv -s /host/refused.txt
run overflow sh -c "fw_setenv -s - < /host/overflow.txt"
record unerased "$(cat $KELBOARD/unerased_writes)"
dmesg > /host/dmesg
'
expect_status 0
for check in script_status:0 again_status:0 refused_status:5 overflow_status:6; do
	[ "$(result "${check%:*}")" = "${check#*:}" ] ||
		fail "${check%_status:*}: exit status $(result "${check%:*}"), expected ${check#*:}: $(cat "${check%_status:*}.err")"
done
[ "$(result script_cost)" = "1 1" ] || fail "the 10-line script cost erases, writes = $(result script_cost), expected 1 1"
for name in again refused overflow; do
	[ "$(result ${name}_cost)" = "0 0" ] || fail "$name cost erases, writes = $(result ${name}_cost), expected 0 0"
	cmp -s script.list $name.list || fail "$name changed the environment"
	cmp -s script.flash $name.flash || fail "$name changed the flash"
done
[ "$(result unerased)" = 0 ] || fail "$(result unerased) writes over bits that NOR cannot set"
echo "measured: a 10-line script cost erases, writes = $(result script_cost); applied again, refused, overflowing: 0 0"

refusal='read-only key; only serverip, bootargs, device_type, identification and update_ip can be changed'
printf '%s\n' "fw_setenv: line 3: ethaddr: $refusal" \
	'fw_setenv: nothing was changed: a script is applied whole or not at all' |
	diff - refused.err > refused.diff || fail "the refused script said: $(cat refused.diff)"
grep -q '^fw_setenv: line 3: bootargs: the environment is full' overflow.err ||
	fail "the overflowing script said: $(cat overflow.err)"
grep -q '^fw_setenv: nothing was changed' overflow.err || fail "the overflowing script did not say nothing changed"

# Debian's fw_setenv -s on the PC's copy makes the same environment.
echo "pc.img 0x2f000 0x1000" > pc-fw_env.config
fw_setenv -c pc-fw_env.config -s script-pc.txt || fail "Debian's fw_setenv -s failed"
fw_env pc.img > pc.txt || fail "fw_printenv cannot read the PC's copy"
fw_env "$FLASH" > board.txt || fail "fw_printenv cannot read the board's flash"
diff pc.txt board.txt > image.diff || fail "the board's flash and the PC's copy differ: $(cat image.diff)"
sort script.list | diff board.txt - > list.diff || fail "uenv list differs from the flash: $(cat list.diff)"
grep -qx 'serverip=10.0.0.21' board.txt && ! grep -q '^identification=' board.txt &&
	grep -qx 'device_type=kx4' board.txt || fail "the script's last changes did not win: $(cat board.txt)"
