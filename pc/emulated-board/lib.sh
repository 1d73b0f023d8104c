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

# What the kernel's checkers print first in a report, on a console line
# (after the kernel's timestamp; kmemleak's listing, printed by the board's
# /init, has none). Only kernels built with the checkers print most of
# them: the ARM board's (pc/emulated-board/arm-kernel.config).
checker_report_ere='^(\[ *[0-9]+\.[0-9]+\] )?(WARNING:|BUG:|INFO: task .* blocked for more than|INFO: trying to register non-static key|rcu: INFO: .*stall|Unable to handle kernel|Internal error:|list_(add|del) corruption|Slab corruption|slab error in|kmemleak: .*(suspected memory leak|detector disabled)|unreferenced object 0x)'

# checker_report_kind LINE: sets report_kind to the checker whose report
# LINE (which matches checker_report_ere) begins, and report_text to LINE
# without the timestamp. A warning's source file names its checker.
checker_report_kind() {
	report_text=$1
	[[ "$report_text" =~ ^\[\ *[0-9]+\.[0-9]+\]\ (.*)$ ]] && report_text=${BASH_REMATCH[1]}
	case "$report_text" in
	*"locking dependency"*|*"recursive locking"*|*"inconsistent lock state"*|*"lock held when"*|\
	*"unlock balance"*|*"held lock freed"*|*"suspicious RCU usage"*|*"lock order detected"*|\
	*"lock inversion"*|*"non-static key"*|"BUG: spinlock"*|"BUG: rwlock"*|*" at kernel/locking/"*)
		report_kind="lock checking" ;;
	"BUG: sleeping function called from invalid context"*|"BUG: scheduling while atomic"*)
		report_kind="sleep in atomic context" ;;
	list_*|*" at lib/list_debug.c"*) report_kind="list corruption" ;;
	*" at lib/debugobjects.c"*) report_kind="object debugging" ;;
	"Slab corruption"*|"slab error"*|*" at mm/slab.c"*) report_kind="slab debugging" ;;
	"INFO: task "*) report_kind="hung task" ;;
	rcu:*) report_kind="RCU stall" ;;
	"Unable to handle kernel"*|"Internal error:"*) report_kind=oops ;;
	*"detector disabled"*) report_kind="leak detector off" ;;
	kmemleak:*|"unreferenced object"*) report_kind="memory leak" ;;
	WARNING:*) report_kind=warning ;;
	*) report_kind=bug ;;
	esac
}
