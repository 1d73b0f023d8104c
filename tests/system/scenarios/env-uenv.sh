# uenv and the proc file on the board, and unloading and reloading the
# driver (which has nothing to write when the environment is unchanged).
board --timeout 90 -- '
. /host/board-lib.sh
writes() { cat $KELBOARD/flash_writes; }

echo g bootargs > /proc/driver/uenv
cat /dev/env
echo g bootargs > /proc/driver/uenv
echo d > /proc/driver/uenv
echo x > /proc/driver/uenv

before=$(writes)
rmmod kelubootenv && [ ! -e /dev/env ] && [ ! -e /proc/driver/uenv ] && record unloaded yes
insmod /lib/modules/kelubootenv.ko && [ -c /dev/env ] && record reloaded yes
record reload_writes $(($(writes) - before))

uenv get bootcmd > /host/get-bootcmd
uenv get -n nosuch; record absent_status $?
uenv set ethaddr 02:00:00:00:00:02; record readonly_status $?
uenv set update_ip 10.0.0.9 && uenv get -n update_ip > /host/update-ip
uenv set update_ip && { uenv get update_ip; record deleted_status $?; }
uenv serial --port 1 --baud 9600 --parity e --bits 7 --rts && uenv get -n bootargs > /host/bootargs-serial
uenv serial --tty 2 && uenv get -n bootargs > /host/bootargs-tty
uenv serial --baud 12345; record bad_serial_status $?
uenv set serverip "$(head -c 5000 /dev/zero | tr "\0" x)"; record too_long_status $?
uenv --device /dev/nosuch list; record no_device_status $?
dmesg > /host/dmesg
'
expect_status 0
[ "$(result unloaded)" = yes ] || fail "rmmod left /dev/env or /proc/driver/uenv behind"
[ "$(result reloaded)" = yes ] || fail "the driver did not come back"
[ "$(result reload_writes)" = 0 ] || fail "the reload wrote the flash $(result reload_writes) times"
[ "$(cat get-bootcmd)" = 'bootcmd=tftp 0x80400000 $(bootfile);bootm 0x80400000;' ] || fail "get bootcmd: $(cat get-bootcmd)"
[ "$(cat update-ip)" = 10.0.0.9 ] || fail "update_ip: $(cat update-ip)"
[ "$(result deleted_status)" = 1 ] || fail "update_ip still there after deleting it"
[ "$(cat bootargs-serial)" = "mem=42M console=ttyS1,9600e7r" ] || fail "after serial: $(cat bootargs-serial)"
[ "$(cat bootargs-tty)" = "mem=42M console=tty2" ] || fail "after serial --tty: $(cat bootargs-tty)"
for check in absent_status:1 readonly_status:5 bad_serial_status:4 too_long_status:3 no_device_status:7; do
	[ "$(result "${check%:*}")" = "${check#*:}" ] ||
		fail "uenv ${check%_status:*}: exit status $(result "${check%:*}"), expected ${check#*:}"
done

grep -q 'please :cat /dev/env' dmesg || fail "no hint before the first open"
grep -q 'bootargs =mem=42M console=ttyS0,115200n8' dmesg || fail "no look-up line"
grep -q '=================dump env buf=================' dmesg || fail "no dump"
words=$(grep -Ec '\] [0-9a-f]{8} [0-9a-f]{8} [0-9a-f]{8} [0-9a-f]{8} $' dmesg)
[ "$words" = 255 ] || fail "the dump has $words lines of four words, expected 255"
grep -Eq '\[K\] This module: built on [A-Z][a-z]{2} +[0-9]+ [0-9]{4} at [0-9:]{8}\.' dmesg || fail "no banner"
grep -q '\[K\] \[x\]: you are seeing it' dmesg || fail "no banner line for x"
grep -q 'set ethaddr not allowed!' dmesg || fail "no warning for the read-only key"
