# fw_printenv and fw_setenv on the board (uenv under U-Boot's tool names)
# against Debian's on the PC (libubootenv), both ways, on one boot:
# - Debian's fw_setenv changes a flash image on the PC; on the board our
#   fw_printenv prints what Debian's prints of it, in every form scripts
#   use (undefined names included: "NAME=" and status 0).
# - Our fw_setenv makes a sequence of changes on the board (sets, words
#   joined into one value, deletes, scripts in both line forms, a refused
#   read-only key alone and in the middle of a script); Debian's fw_setenv
#   makes the same changes on a copy of the image; Debian's fw_printenv
#   then reads the same environment in both. Each command costs one flash
#   write (a script too), a refused one none.
# fw_printenv lists alphabetically, ours in the block's order: lists are
# compared sorted. Only the driver's five keys change through it, so the
# PC's side leaves out what the driver refuses.

pc_config=$SCENARIO_DIR/pc-fw_env.config
# pc_fw TOOL IMAGE ARGS: Debian's fw_printenv or fw_setenv on IMAGE, which
# fw_setenv writes directly (a plain file needs no sector size).
pc_fw() {
	local tool=$1 image=$2
	shift 2
	echo "$image 0x2f000 0x1000" > "$pc_config"
	"$tool" -c "$pc_config" "$@"
}

# --- The image, changed on the PC by Debian's fw_setenv -------------------
env_image "$FLASH" 'bootargs=mem=42M console=ttyS0,115200n8\0bootcmd=bootm 0x80400000\0ethaddr=02:00:00:00:00:01\0serverip=10.0.0.1\0update_ip=10.0.0.9\0'
printf '%s\n' 'ipaddr=10.0.0.50' '# a comment' '' 'hostname=kelmora-7' > pc-script.txt
pc_fw fw_setenv "$FLASH" serverip 10.0.0.100 || fail "Debian's fw_setenv serverip failed"
pc_fw fw_setenv "$FLASH" ethaddr 02:00:00:00:00:aa || fail "Debian's fw_setenv ethaddr failed"
pc_fw fw_setenv "$FLASH" bootcmd || fail "Debian's fw_setenv could not delete bootcmd"
pc_fw fw_setenv "$FLASH" empty '' || fail "Debian's fw_setenv empty '' failed"
pc_fw fw_setenv "$FLASH" -s pc-script.txt || fail "Debian's fw_setenv -s failed"
cp "$FLASH" pc.img

# What fw_printenv is asked, one command line a line (no quoting needed).
cat > printenv-cases <<'EOF'

nosuch
serverip nosuch ethaddr
-n serverip
-n nosuch
-n serverip ethaddr
-n
empty
EOF
i=0
while IFS= read -r args; do
	i=$((i + 1))
	# shellcheck disable=SC2086 # the words of the case
	pc_fw fw_printenv pc.img $args > "pc-$i.out" 2> "pc-$i.err"
	echo $? > "pc-$i.status"
done < printenv-cases
case_count=$i

# --- Scripts for fw_setenv -s ----------------------------------------------
# NAME=VALUE lines, which both tools read.
printf '%s\n' '# field settings' 'identification=unit-42' '' 'serverip=10.0.0.3' \
	'device_type=kx2' > script-1.txt
# U-Boot's NAME VALUE lines (several blanks, a name alone deletes), which
# Debian's fw_setenv ignores: it gets the same changes as NAME=VALUE.
printf '%s\n' 'serverip 10.0.0.6' '# no change' '' 'identification   unit 43' 'device_type' \
	> script-2.txt
printf '%s\n' 'serverip=10.0.0.6' 'identification=unit 43' 'device_type=' > script-2-pc.txt
# A read-only key in the middle: the script changes nothing.
printf '%s\n' 'serverip=10.0.0.7' 'ethaddr=02:00:00:00:00:02' 'identification=unit-44' \
	> script-3.txt

board --timeout 90 -- '
. /host/board-lib.sh
# The image carries the links once it is built so; until then, make them.
for tool in fw_printenv fw_setenv; do
	if [ -e /usr/bin/$tool ]; then
		record link_$tool "$(readlink /usr/bin/$tool)"
		eval "$tool=/usr/bin/$tool"
	else
		ln -s /usr/bin/uenv /tmp/$tool
		record link_$tool made
		eval "$tool=/tmp/$tool"
	fi
done
writes() { cat $KELBOARD/flash_writes; }
record probe_writes "$(writes)"

i=0
while IFS= read -r args; do
	i=$((i + 1))
	$fw_printenv $args > /host/board-$i.out 2> /host/board-$i.err
	echo $? > /host/board-$i.status
done < /host/printenv-cases

# change NAME COMMAND...: runs it, records its status, output and writes.
change() {
	name=$1
	shift
	before=$(writes)
	"$@" > /host/change-$name.out 2> /host/change-$name.err
	record status_$name $?
	record writes_$name $(($(writes) - before))
}
change set $fw_setenv serverip 10.0.0.2
change words $fw_setenv bootargs mem=42M console=ttyS0,115200n8 root=/dev/mtdblock3 rootfstype=jffs2
change config $fw_setenv -c /etc/fw_env.config device_type kx1
change delete $fw_setenv update_ip
change absent $fw_setenv update_ip
change readonly $fw_setenv ethaddr 02:00:00:00:00:09
change script1 $fw_setenv -s /host/script-1.txt
change script2 sh -c "$fw_setenv -s - < /host/script-2.txt"
change script3 $fw_setenv --script /host/script-3.txt
$fw_printenv > /host/board-final.out
record unannounced "$(cat $KELBOARD/unannounced_writes)"
dmesg > /host/dmesg
'
expect_status 0
for tool in fw_printenv fw_setenv; do
	echo "measured: /usr/bin/$tool on the board: $(result link_$tool)"
	case $(result link_$tool) in made|uenv|/usr/bin/uenv) ;; *) fail "/usr/bin/$tool is $(result link_$tool), not uenv" ;; esac
done
[ "$(result probe_writes)" = 0 ] || fail "the probe wrote $(result probe_writes) times; Debian's image was complete"

# --- Our fw_printenv on the board prints what Debian's prints -------------
for i in $(seq 1 "$case_count"); do
	args=$(sed -n "${i}p" printenv-cases)
	if [ -z "$args" ] || [ "$args" = -n ]; then
		sort -o "board-$i.out" "board-$i.out"
		sort -o "pc-$i.out" "pc-$i.out"
	fi
	for part in out err status; do
		diff "pc-$i.$part" "board-$i.$part" > diff-$i.$part ||
			fail "fw_printenv $args: the board's $part differs from Debian's: $(cat diff-$i.$part)"
	done
done
grep -qx 'empty=' "board-1.out" || fail "the empty value Debian stored is not listed"
[ "$(cat board-2.out)" = nosuch= ] || fail "fw_printenv nosuch printed '$(cat board-2.out)'"

# --- Our fw_setenv on the board, Debian's on the copy ----------------------
pc_fw fw_setenv pc.img serverip 10.0.0.2
pc_fw fw_setenv pc.img bootargs 'mem=42M console=ttyS0,115200n8 root=/dev/mtdblock3 rootfstype=jffs2'
pc_fw fw_setenv pc.img device_type kx1
pc_fw fw_setenv pc.img update_ip
pc_fw fw_setenv pc.img update_ip
pc_fw fw_setenv pc.img -s script-1.txt
pc_fw fw_setenv pc.img -s script-2-pc.txt
fw_env "$FLASH" > board-image.txt || fail "fw_printenv cannot read the board's flash"
fw_env pc.img > pc-image.txt || fail "fw_printenv cannot read the PC's copy"
diff pc-image.txt board-image.txt > image.diff ||
	fail "the board's flash and the PC's copy differ: $(cat image.diff)"
sort board-final.out | diff board-image.txt - > final.diff ||
	fail "our fw_printenv differs from Debian's on the same flash: $(cat final.diff)"
grep -qx 'identification=unit 43' board-image.txt || fail "script-2 did not set 'unit 43'"
grep -q '^device_type=' board-image.txt && fail "script-2 did not delete device_type"
grep -qx 'serverip=10.0.0.6' board-image.txt || fail "script-3 changed serverip before the refusal"

# Statuses and flash writes: one per change, none for what changes nothing.
for check in set:0:1 words:0:1 config:0:1 delete:0:1 absent:0:0 readonly:5:0 \
	script1:0:1 script2:0:1 script3:5:0; do
	IFS=: read -r name status writes <<< "$check"
	[ "$(result status_$name)" = "$status" ] ||
		fail "change $name: exit status $(result status_$name), expected $status: $(cat change-$name.err)"
	[ "$(result writes_$name)" = "$writes" ] ||
		fail "change $name: $(result writes_$name) flash writes, expected $writes"
done
echo "measured: flash writes per command: set 1, words 1, delete 1, absent 0, read-only 0, scripts 1, 1, refused 0"
[ "$(result unannounced)" = 0 ] || fail "$(result unannounced) flash writes were not announced"

refusal='read-only key; only serverip, bootargs, device_type, identification and update_ip can be changed'
[ "$(cat change-config.err)" = "fw_setenv: -c /etc/fw_env.config ignored: through /dev/env, the driver knows where the environment lies in flash" ] ||
	fail "fw_setenv -c said: $(cat change-config.err)"
[ "$(cat change-readonly.err)" = "fw_setenv: ethaddr: $refusal" ] ||
	fail "the read-only key: $(cat change-readonly.err)"
printf '%s\n' "fw_setenv: line 2: ethaddr: $refusal" \
	"fw_setenv: nothing was changed: a script is applied whole or not at all" |
	diff - change-script3.err > script3.diff || fail "script-3's messages: $(cat script3.diff)"
for name in set words delete absent script1 script2; do
	[ ! -s change-$name.err ] || fail "change $name said: $(cat change-$name.err)"
done
grep -q 'set ethaddr not allowed!' dmesg || fail "the driver did not report the refused ethaddr"
