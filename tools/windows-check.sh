#!/bin/sh
# The Windows checks.
#  1. Sendra2016.dll for Orbiter 2016, as tools/windows-dll.sh builds it with clang and lld in
#     the Visual C++ ABI: a 32-bit x86 DLL exporting exactly GetModuleVersion, ModuleDate,
#     ovcInit and ovcExit, whose entry is its DllMain, linked with /nodefaultlib from the
#     module's objects and the import libraries of orbiter.exe, msvcrt.dll and kernel32.dll
#     alone, and importing from those three only: from orbiter.exe only what Orbiter 2016
#     exports (tools/windows/orbiter2016-api.txt), from msvcrt.dll only names it exports
#     (tools/windows/msvcrt-exports-i686.txt), from kernel32.dll GetProcAddress. And the SDK
#     stand-in's headers leave InitLib and Date2Int undeclared, as the real SDK's do, so that
#     the module's own declarations are what it compiles with (with -Werror) on either. Its
#     header asks for Windows Vista or later, as the readme says. Run under emulation by
#     tools/msvc-abi-drive.sh --arch i686.
#  2. The module cross-built with mingw-w64 for 64 bits, with the stand-in host's DLL:
#     module_smoke loads, drives and unloads Sendra2016.dll under wine.
# Needs clang, lld, llvm, g++-mingw-w64-i686, g++-mingw-w64-x86-64 and wine64 (Debian). Builds
# in build-windows/ (or $SENDRA_WINDOWS_BUILD); exits non-zero if anything fails.
set -eu
cd "$(dirname "$0")/.."
out=${SENDRA_WINDOWS_BUILD:-build-windows}
jobs=${SENDRA_JOBS:-2}

step() { printf '\n== %s\n' "$*"; }

failed=0
check() {  # check <what> <command...>: runs the command and reports it as a check
	what=$1
	shift
	if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=$((failed + 1)); fi
}
# Declarations compared without the spaces around punctuation, where demanglers differ.
normalise() { sed -E 's/ *([^A-Za-z0-9_ ]) */\1/g; s/  +/ /g; s/^ //; s/ $//'; }

step "Sendra2016.dll for Orbiter 2016 (clang and lld, i686-pc-windows-msvc)"
mkdir -p "$out"
dll=$(./tools/windows-dll.sh "$out/dll")
work=$out/dll/work
llvm-readobj --file-headers "$dll" >"$work/headers.txt"
llvm-readobj --coff-exports --coff-imports "$dll" >"$work/tables.txt"
echo "     $dll: $(wc -c <"$dll") bytes"

check "it is a 32-bit x86 DLL (PE32, i386)" sh -c "grep -q 'Format: COFF-i386' '$work/headers.txt' &&
	grep -q 'Magic: 0x10B' '$work/headers.txt' && grep -q 'IMAGE_FILE_DLL' '$work/headers.txt'"

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
		grep -q 'Windows Vista or later' assets/Sendra2016-readme.txt"
check "it imports from orbiter.exe, msvcrt.dll and kernel32.dll only" \
	[ "$dlls" = "kernel32.dll msvcrt.dll orbiter.exe " ]

# The entry point is DllMain, as the map of the link places both.
entry=$(sed -n 's/^ *entry point at *\([0-9a-fA-F:]*\).*/\1/p' "$work/Sendra2016.map")
dllmain=$(awk '$2 == "_DllMain@12" {print $1}' "$work/Sendra2016.map")
check "its entry point is _DllMain@12, the module's DllMain ($entry)" test -n "$entry" -a "$entry" = "$dllmain"

# Linked with /nodefaultlib from one object per module source, the version resource and the
# three import libraries (the response file's arguments that are files); every symbol of the
# link's map comes from one of those.
ls Sendra2016/*/*.cpp | sed 's|.*/||; s|\.cpp$|.obj|' >"$work/expected-inputs.txt"
printf '%s\n' kernel32.lib msvcrt.lib orbiter.lib version.res >>"$work/expected-inputs.txt"
for argument in $(cat "$work/link.rsp"); do
	if [ -f "$argument" ]; then basename "$argument"; fi
done | LC_ALL=C sort >"$work/inputs.txt"
check "it was linked with /nodefaultlib" grep -qw '/nodefaultlib' "$work/link.rsp"
check "from the module's objects, its version resource and the three import libraries only" \
	sh -c "LC_ALL=C sort '$work/expected-inputs.txt' | cmp -s - '$work/inputs.txt'"
{
	grep '\.obj$' "$work/expected-inputs.txt"
	printf '%s\n' kernel32:kernel32.dll msvcrt:msvcrt.dll orbiter:orbiter.exe "internal .obj file created from .res files"
} | LC_ALL=C sort >"$work/allowed-origins.txt"
sed -n '/Publics by Value/,$p' "$work/Sendra2016.map" | awk '$1 ~ /^[0-9a-fA-F]+:[0-9a-fA-F]+$/ && NF >= 4 {
	$1 = $2 = $3 = ""; sub(/^ +/, ""); sub(/^f /, ""); print }' | LC_ALL=C sort -u >"$work/origins.txt"
stray=$(LC_ALL=C comm -23 "$work/origins.txt" "$work/allowed-origins.txt" | tr '\n' ',')
check "no code or data from any other library (no C or C++ runtime)${stray:+: $stray}" test -z "$stray"

# Every orbiter.exe import is a 2016 declaration; every msvcrt.dll import one msvcrt exports.
grep -v '^#' tools/windows/orbiter2016-api.txt | grep . | normalise | LC_ALL=C sort -u >"$work/api2016.txt"
sed -n 's/^orbiter\.exe //p' "$work/imports.txt" | llvm-undname 2>/dev/null | paste -d'\t' - - - |
	cut -f2 | normalise | LC_ALL=C sort -u >"$work/orbiter-imports.txt"
not2016=$(LC_ALL=C comm -23 "$work/orbiter-imports.txt" "$work/api2016.txt")
[ -z "$not2016" ] || printf '     not in Orbiter 2016: %s\n' "$not2016"
check "its $(wc -l <"$work/orbiter-imports.txt") orbiter.exe imports are all Orbiter 2016 exports" \
	test -s "$work/orbiter-imports.txt" -a -z "$not2016"
grep -v '^#' tools/windows/msvcrt-exports-i686.txt | LC_ALL=C sort -u >"$work/msvcrt-exports-sorted.txt"
sed -n 's/^msvcrt\.dll //p' "$work/imports.txt" | LC_ALL=C sort -u >"$work/msvcrt-imports.txt"
notmsvcrt=$(LC_ALL=C comm -23 "$work/msvcrt-imports.txt" "$work/msvcrt-exports-sorted.txt" | tr '\n' ' ')
echo "     msvcrt.dll: $(tr '\n' ' ' <"$work/msvcrt-imports.txt")"
check "its msvcrt.dll imports are all msvcrt.dll exports${notmsvcrt:+ (not: $notmsvcrt)}" [ -z "$notmsvcrt" ]
check "it imports GetProcAddress alone from kernel32.dll" \
	[ "$(sed -n 's/^kernel32\.dll //p' "$work/imports.txt")" = GetProcAddress ]

# A name the headers do not declare cannot be used after including them (while one they
# declare, oapiGetSimStep, can).
uses() {  # uses <name>: whether a source including Orbitersdk.h can take <name>'s address
	printf '#include "Orbitersdk.h"\nvoid *use = (void *)&%s;\n' "$1" >"$work/uses-$1.cpp"
	clang++ -fsyntax-only -I host/include "$work/uses-$1.cpp" 2>/dev/null
}
undeclared() {  # undeclared <name>...: whether Orbitersdk.h leaves each name undeclared
	uses oapiGetSimStep || return 1
	for name in "$@"; do
		if uses "$name"; then return 1; fi
	done
}
check "the SDK stand-in's headers declare neither InitLib nor Date2Int" undeclared InitLib Date2Int
[ "$failed" -eq 0 ] || exit 1

step "64-bit host, Sendra2016.dll and module_smoke (x86_64-w64-mingw32)"
cmake -S . -B "$out/x86_64" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSENDRA_WERROR=ON --no-warn-unused-cli >/dev/null
cmake --build "$out/x86_64" --target module_smoke -j "$jobs"

step "module_smoke under wine"
wineprefix=$out/wineprefix
. tools/windows/wine-env.sh
status=0
(cd "$out/x86_64" && "$wine" module_smoke.exe orbiter smoke.scn) || status=$?
# The wine server of this prefix would linger for a few seconds; end it now.
"$wineserver" -k 2>/dev/null || true
exit $status
