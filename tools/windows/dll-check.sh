#!/bin/sh
# The checks of a players' Sendra2016.dll (ctest's windows.dll_check.<arch>): the DLL of a
# players' zip, as cmake/WindowsPackage.cmake built it in the Visual C++ ABI in BUILD,
#  - is the DLL that BUILD linked, a PE32 DLL for i386 (i686) or a PE32+ DLL for x86-64,
#    exporting exactly GetModuleVersion, ModuleDate, ovcInit and ovcExit, whose entry is its
#    DllMain, with a header that asks for Windows Vista or later (as the readme says);
#  - holds code and data from the module's objects, its version resource and the import
#    libraries of orbiter.exe, msvcrt.dll and kernel32.dll alone (the link's map): no C or C++
#    runtime;
#  - imports from those three only: from orbiter.exe only what Orbiter 2016 exports
#    (tools/windows/orbiter2016-api.txt; on x86-64 the same declarations, their calling
#    convention and __ptr64 aside), from msvcrt.dll only names it exports
#    (tools/windows/msvcrt-exports-<arch>.txt), from kernel32.dll GetProcAddress;
#  - and the SDK stand-in's headers leave InitLib and Date2Int undeclared, as the real SDK's do,
#    so that the module's own declarations are what it compiles with on either.
# Usage: tools/windows/dll-check.sh i686|x86_64 BUILD DLL
# Needs llvm (llvm-readobj, llvm-undname) and clang; prints one line a check, exits non-zero
# if any fails.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 3 ] || { echo "usage: dll-check.sh i686|x86_64 BUILD DLL" >&2; exit 2; }
arch=$1 build=$2 dll=$3
case $arch in
i686) format=COFF-i386 magic=0x10B entry=_DllMain@12 kind="a 32-bit x86 DLL (PE32, i386)" ;;
x86_64) format=COFF-x86-64 magic=0x20B entry=DllMain kind="a 64-bit x86-64 DLL (PE32+)" ;;
*) echo "dll-check.sh: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
map=$build/Sendra2016/Sendra2016.map
objects=$build/Sendra2016/Sendra2016.objects
for file in "$dll" "$map" "$objects"; do
	[ -f "$file" ] || { echo "dll-check.sh: $file: no such file" >&2; exit 1; }
done
work=$build/check
rm -rf "$work"
mkdir -p "$work"

failed=0
check() {  # check <what> <command...>: runs the command and reports it as a check
	what=$1
	shift
	if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=$((failed + 1)); fi
}
# Declarations compared without their calling convention, __ptr64 and the spaces around
# punctuation, where demanglers and architectures differ.
normalise() {
	sed -E 's/__(cdecl|thiscall|stdcall|ptr64)//g; s/ *([^A-Za-z0-9_ ]) */\1/g; s/  +/ /g; s/^ //; s/ $//'
}

llvm-readobj --file-headers "$dll" >"$work/headers.txt"
llvm-readobj --coff-exports --coff-imports "$dll" >"$work/tables.txt"
echo "     $dll: $(wc -c <"$dll") bytes, SHA-256 $(sha256sum "$dll" | cut -d' ' -f1)"

check "it is the DLL that $build linked" cmp -s "$dll" "$build/orbiter/Modules/Sendra2016.dll"
check "it is $kind" sh -c "grep -q 'Format: $format\$' '$work/headers.txt' &&
	grep -q 'Magic: $magic\$' '$work/headers.txt' && grep -q 'IMAGE_FILE_DLL' '$work/headers.txt'"

exports=$(sed -n '/^Export {/,/^}/s/^ *Name: \(..*\)$/\1/p' "$work/tables.txt" | LC_ALL=C sort | tr '\n' ' ')
echo "     exports: $exports"
check "it exports exactly GetModuleVersion, ModuleDate, ovcInit and ovcExit, undecorated" \
	[ "$exports" = "GetModuleVersion ModuleDate ovcExit ovcInit " ]

# Imports as "<dll> <name>" lines.
awk '/^Import {/{on = 1} /^Export {/{on = 0} on && /^ *Name: /{dll = $2} on && /^ *Symbol: /{print dll, $2}' \
	"$work/tables.txt" >"$work/imports.txt"
dlls=$(cut -d' ' -f1 "$work/imports.txt" | LC_ALL=C sort -u | tr '\n' ' ')
echo "     imports from: $dlls($(wc -l <"$work/imports.txt") names)"
check "its header asks for Windows Vista or later (subsystem version 6.0), as the readme says" \
	sh -c "grep -q 'MajorSubsystemVersion: 6\$' '$work/headers.txt' && grep -q 'MinorSubsystemVersion: 0\$' '$work/headers.txt' &&
		grep -q 'Windows Vista or later' '$root/assets/Sendra2016-readme.txt'"
check "it imports from orbiter.exe, msvcrt.dll and kernel32.dll only" \
	[ "$dlls" = "kernel32.dll msvcrt.dll orbiter.exe " ]

# The entry point is DllMain, as the map of the link places both.
at=$(sed -n 's/^ *entry point at *\([0-9a-fA-F:]*\).*/\1/p' "$map")
dllmain=$(awk -v name="$entry" '$2 == name {print $1}' "$map")
check "its entry point is $entry, the module's DllMain ($at)" test -n "$at" -a "$at" = "$dllmain"

# Every symbol of the link's map comes from the module's objects, the version resource or
# the three import libraries.
{
	sed 's|.*/||' "$objects"
	printf '%s\n' kernel32:kernel32.dll msvcrt:msvcrt.dll orbiter:orbiter.exe "internal .obj file created from .res files"
} | LC_ALL=C sort >"$work/allowed-origins.txt"
sed -n '/Publics by Value/,$p' "$map" | awk '$1 ~ /^[0-9a-fA-F]+:[0-9a-fA-F]+$/ && NF >= 4 {
	$1 = $2 = $3 = ""; sub(/^ +/, ""); sub(/^f /, ""); print }' | LC_ALL=C sort -u >"$work/origins.txt"
stray=$(LC_ALL=C comm -23 "$work/origins.txt" "$work/allowed-origins.txt" | tr '\n' ',')
check "no code or data from any other library (no C or C++ runtime)${stray:+: $stray}" \
	test -s "$work/origins.txt" -a -z "$stray"

# Every orbiter.exe import is a 2016 declaration; every msvcrt.dll import one msvcrt exports.
grep -v '^#' "$root/tools/windows/orbiter2016-api.txt" | grep . | normalise | LC_ALL=C sort -u >"$work/api2016.txt"
sed -n 's/^orbiter\.exe //p' "$work/imports.txt" | llvm-undname 2>/dev/null | paste -d'\t' - - - |
	cut -f2 | normalise | LC_ALL=C sort -u >"$work/orbiter-imports.txt"
not2016=$(LC_ALL=C comm -23 "$work/orbiter-imports.txt" "$work/api2016.txt")
[ -z "$not2016" ] || printf '     not in Orbiter 2016: %s\n' "$not2016"
check "its $(wc -l <"$work/orbiter-imports.txt") orbiter.exe imports are all Orbiter 2016 exports" \
	test -s "$work/orbiter-imports.txt" -a -z "$not2016"
grep -v '^#' "$root/tools/windows/msvcrt-exports-$arch.txt" | LC_ALL=C sort -u >"$work/msvcrt-exports.txt"
sed -n 's/^msvcrt\.dll //p' "$work/imports.txt" | LC_ALL=C sort -u >"$work/msvcrt-imports.txt"
notmsvcrt=$(LC_ALL=C comm -23 "$work/msvcrt-imports.txt" "$work/msvcrt-exports.txt" | tr '\n' ' ')
echo "     msvcrt.dll: $(tr '\n' ' ' <"$work/msvcrt-imports.txt")"
check "its msvcrt.dll imports are all msvcrt.dll exports${notmsvcrt:+ (not: $notmsvcrt)}" \
	test -s "$work/msvcrt-imports.txt" -a -z "$notmsvcrt"
check "it imports GetProcAddress alone from kernel32.dll" \
	[ "$(sed -n 's/^kernel32\.dll //p' "$work/imports.txt")" = GetProcAddress ]

# A name the headers do not declare cannot be used after including them (while one they
# declare, oapiGetSimStep, can).
uses() {  # uses <name>: whether a source including Orbitersdk.h can take <name>'s address
	printf '#include "Orbitersdk.h"\nvoid *use = (void *)&%s;\n' "$1" >"$work/uses-$1.cpp"
	clang++ -fsyntax-only -I "$root/host/include" "$work/uses-$1.cpp" 2>/dev/null
}
undeclared() {  # undeclared <name>...: whether Orbitersdk.h leaves each name undeclared
	uses oapiGetSimStep || return 1
	for name in "$@"; do
		if uses "$name"; then return 1; fi
	done
}
check "the SDK stand-in's headers declare neither InitLib nor Date2Int" undeclared InitLib Date2Int
[ "$failed" -eq 0 ]
