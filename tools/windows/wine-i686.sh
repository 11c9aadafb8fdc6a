#!/bin/sh
# Runs a command with wine able to start 32-bit Windows programs on a machine that cannot execute
# 32-bit x86 code: wine's 32-bit loader (an i386 ELF program) is run by qemu-i386, registered for
# i386 ELF files in binfmt_misc with the F flag (the interpreter opened once, so that it serves
# in any mount namespace). The registration is private: a binfmt_misc of its own, mounted in a
# user and mount namespace (unshare --user --map-root-user --mount; Linux 6.7 or later), which
# ends with the command. Where that cannot be mounted, and only as root, it is made in the
# machine's own binfmt_misc and removed on every exit that can be caught (not SIGKILL); every
# other wine on the machine would then run its 32-bit parts under qemu too, so it says so.
#
# The WINEPREFIX, given as PREFIX, is made on first use and reused while complete (a lock keeps
# two runs from making it at once): wine64's own set-up, made before qemu is registered so that
# wine skips its 32-bit half (which takes some ten minutes under emulation), then the 32-bit
# system DLLs copied into syswow64 as that half would. A prefix without the file saying it was
# completed, or made by another wine, is made again.
#
# Usage: tools/windows/wine-i686.sh PREFIX COMMAND [ARG...]
#        tools/windows/wine-i686.sh --check    (only whether what it needs is installed)
#   Runs COMMAND with WINEPREFIX=PREFIX and WINEDEBUG=-all exported and the wine server ended
#   afterwards; exits with COMMAND's status. SENDRA_I386_REGISTERED=FILE: FILE is written once
#   the registration is in place, with the line "private" or "global".
# Needs the Debian packages wine64, wine32:i386 (dpkg --add-architecture i386), qemu-user-static
# and util-linux (unshare, flock).
set -eu
die() { echo "wine-i686.sh: $*" >&2; exit 1; }
[ $# -ge 2 ] || [ "${1:-}" = --check ] || die "usage: wine-i686.sh PREFIX COMMAND [ARG...] | --check"

name=sendra2016-i386
qemu=/usr/bin/qemu-i386-static
loader32=/usr/lib/wine/wine
dlls32=/usr/lib/i386-linux-gnu/wine/i386-windows

if [ "${SENDRA_WINE_I686_INSIDE:-}" != 1 ]; then
	# --- Outside: what is needed, and where the registration goes -----------------------------
	missing=""
	command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
	[ -x "$loader32" ] && [ -f "$dlls32/kernel32.dll" ] || missing="$missing wine32:i386"
	[ -x "$qemu" ] || missing="$missing qemu-user-static"
	command -v unshare >/dev/null 2>&1 && command -v flock >/dev/null 2>&1 || missing="$missing util-linux"
	[ -z "$missing" ] || die "missing Debian packages:$missing (dpkg --add-architecture i386; apt-get install$missing)"
	[ "$1" != --check ] || exit 0
	prefix=$1
	shift
	mkdir -p "$(dirname "$prefix")"
	prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
	export SENDRA_WINE_I686_INSIDE=1 SENDRA_WINE_I686_INSIDE_PREFIX="$prefix"
	if unshare --user --map-root-user --mount sh -c 'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc' 2>/dev/null; then
		export SENDRA_WINE_I686_TABLE=private
		exec unshare --user --map-root-user --mount sh "$0" "$@"
	fi
	[ "$(id -u)" -eq 0 ] ||
		die "this kernel gives a user namespace no binfmt_misc of its own (Linux 6.7 or later does), and only root can register qemu-i386 in the machine's"
	echo "wine-i686.sh: no private binfmt_misc on this kernel: qemu-i386 is registered in the machine's own until this command ends" >&2
	export SENDRA_WINE_I686_TABLE=global
	exec sh "$0" "$@"
fi

# --- Inside: the prefix, the registration, the command ------------------------------------------
prefix=$SENDRA_WINE_I686_INSIDE_PREFIX
table=$SENDRA_WINE_I686_TABLE
wineprefix=$prefix
. "$(dirname "$0")/wine-env.sh"

# The prefix, made or checked under its lock; the stamp names the wine that made it.
stamp="complete: $("$wine" --version 2>/dev/null), 32-bit DLLs of $dlls32"
exec 9>"$prefix.lock"
flock 9
if [ "$(cat "$prefix/.sendra-prefix" 2>/dev/null)" != "$stamp" ] || [ ! -f "$prefix/system.reg" ] ||
	[ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
	echo "wine-i686.sh: making the 32-bit wine prefix $prefix" >&2
	rm -rf "$prefix"
	WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >"$prefix.log" 2>&1 ||
		{ cat "$prefix.log" >&2; die "wineboot could not make $prefix"; }
	"$wineserver" -w
	mkdir -p "$prefix/drive_c/windows/syswow64"
	cp "$dlls32"/* "$prefix/drive_c/windows/syswow64/" || die "cannot copy the 32-bit DLLs into $prefix"
	echo "$stamp" >"$prefix/.sendra-prefix"
fi
flock -u 9

proc=/proc/sys/fs/binfmt_misc
# Any i386 ELF program, executable or position-independent (the kernel reads the \x escapes).
rule=":$name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F"
if [ "$table" = private ]; then
	mount -t binfmt_misc none "$proc" || die "cannot mount a binfmt_misc of this namespace's own"
else
	mounted=0
	[ -f "$proc/register" ] || { mount -t binfmt_misc none "$proc" && mounted=1; } ||
		die "cannot mount the machine's binfmt_misc"
	# Removed on every exit that can be caught; a leftover of a run that was killed goes first.
	unregister() {
		[ -f "$proc/$name" ] && echo -1 >"$proc/$name"
		[ $mounted -eq 0 ] || umount "$proc"
	}
	[ ! -f "$proc/$name" ] || echo -1 >"$proc/$name"
	trap 'unregister' EXIT
	trap 'exit 129' HUP
	trap 'exit 130' INT
	trap 'exit 143' TERM
fi
printf '%s' "$rule" >"$proc/register" || die "cannot register qemu-i386 in binfmt_misc"
[ -z "${SENDRA_I386_REGISTERED:-}" ] || echo "$table" >"$SENDRA_I386_REGISTERED"

status=0
"$@" || status=$?
"$wineserver" -k 2>/dev/null || true
exit $status
