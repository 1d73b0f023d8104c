# Helpers of the PC's side of the emulated boards, for pc/emulated-board/ and tests/system/
# (bash). Source it.

# erase_flash FILE [BYTES]: a new flash image of 0xFF, as erased NOR flash
# reads (256 KiB by default).
erase_flash() {
	head -c "${2:-$((256 * 1024))}" /dev/zero | tr '\0' '\377' > "$1"
}

# elapsed FROM TO: TO - FROM in seconds, one decimal (for $EPOCHREALTIME
# readings and the board's uptimes alike).
elapsed() {
	awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'
}
