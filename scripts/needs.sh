# needs WHAT:PACKAGE...: stops the script before it does anything when a
# command it runs (or a file it reads, given as an absolute path) is
# missing, naming each with the Debian package that provides it. Source it
# (bash).
#   needs cpio:cpio qemu-system-arm:qemu-system-arm /usr/src/linux-source-6.1.tar.xz:linux-source-6.1
needs() {
	local need what missing=() packages=()
	for need in "$@"; do
		what=${need%%:*}
		case "$what" in
		/*) [ -e "$what" ] ;;
		*) command -v "$what" > /dev/null 2>&1 ;;
		esac && continue
		missing+=("$what (package ${need#*:})")
		packages+=("${need#*:}")
	done
	[ ${#missing[@]} -eq 0 ] && return 0
	{
		echo "${0##*/}: stopped before doing anything; it needs:"
		printf '  %s\n' "${missing[@]}"
		echo "Install with: apt-get install ${packages[*]}"
		echo "(or scripts/install-deps GROUP..., which make check and make demo run)"
	} >&2
	exit 1
}
