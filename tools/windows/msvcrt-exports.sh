#!/bin/sh
# Regenerates tools/windows/msvcrt-exports-<arch>.txt: the names that msvcrt.dll exports, which
# the players' DLLs import the module's C library functions from; their build
# (cmake/MsvcDllGuard.cmake) and tools/windows/dll-check.sh check those imports against them. They are read from the export table of Wine's
# msvcrt.dll, a faithful copy of the system DLL's, in Debian's package
#  - libwine:i386 for i686 (installed with wine32:i386; 32-bit programs need not run here);
#  - libwine for x86_64 (installed with wine64).
# Where the package is not installed, its .deb is fetched with apt-get download and unpacked in
# a temporary folder (i686: after `dpkg --add-architecture i386 && apt-get update`).
# Usage: tools/windows/msvcrt-exports.sh i686|x86_64 [MSVCRT.DLL]
# Needs llvm-readobj (Debian package llvm).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
case ${1:-} in
i686) package=libwine:i386 file=/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll ;;
x86_64) package=libwine:amd64 file=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/msvcrt.dll ;;
*) echo "usage: $0 i686|x86_64 [MSVCRT.DLL]" >&2; exit 2 ;;
esac
arch=$1
command -v llvm-readobj >/dev/null 2>&1 || { echo "$0: llvm-readobj not found (Debian package llvm)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ $# -ge 2 ]; then
	dll=$2 source=$2
elif [ -f "$file" ]; then
	dll=$file source="$package $(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo '(version unknown)')"
else
	echo "$package is not installed; fetching its .deb"
	(cd "$tmp" && apt-get download "$package") || {
		echo "$0: cannot fetch $package (i686: dpkg --add-architecture i386 && apt-get update)" >&2
		exit 1
	}
	deb=$(ls "$tmp"/*.deb)
	dpkg-deb -x "$deb" "$tmp/root"
	dll=$tmp/root$file source="$package $(dpkg-deb -f "$deb" Version)"
fi
[ -f "$dll" ] || { echo "$0: $dll not found" >&2; exit 1; }
out=$here/msvcrt-exports-$arch.txt
{
	echo "# The names that msvcrt.dll exports ($arch), one a line, from Wine's msvcrt.dll ($source)."
	echo "# Made by tools/windows/msvcrt-exports.sh; do not edit."
	llvm-readobj --coff-exports "$dll" | sed -n 's/^ *Name: \(..*\)$/\1/p' | LC_ALL=C sort -u
} >"$tmp/list"
mv "$tmp/list" "$out"
echo "$out: $(grep -vc '^#' "$out") names"
