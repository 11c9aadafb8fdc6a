#!/bin/sh
# The Windows checks: the module cross-built with mingw-w64 from its unchanged sources.
#  - 32-bit, as Orbiter 2016 needs it: Sendra2016.dll builds, exports exactly GetModuleVersion,
#    ModuleDate, ovcInit and ovcExit by those plain names, and needs no mingw runtime DLL.
#    Not run: these machines cannot execute 32-bit programs.
#  - 64-bit: the stand-in host's DLL and module_smoke load, drive and unload Sendra2016.dll
#    under wine.
# Needs g++-mingw-w64-i686, g++-mingw-w64-x86-64 and wine64 (Debian). Builds in
# build-windows/ (or $SENDRA_WINDOWS_BUILD); exits non-zero if anything fails.
set -eu
cd "$(dirname "$0")/.."
out=${SENDRA_WINDOWS_BUILD:-build-windows}
jobs=${SENDRA_JOBS:-2}

step() { printf '\n== %s\n' "$*"; }

step "32-bit Sendra2016.dll (i686-w64-mingw32)"
cmake -S . -B "$out/i686" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSENDRA_WERROR=ON --no-warn-unused-cli >/dev/null
cmake --build "$out/i686" --target Sendra2016 -j "$jobs"
dll="$out/i686/orbiter/Modules/Sendra2016.dll"
i686-w64-mingw32-objdump -p "$dll" >"$out/i686/Sendra2016.dll.txt"

failed=0
check() {  # check <what> <command...>: runs the command and reports it as a check
	what=$1
	shift
	if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failed=$((failed + 1)); fi
}
check "Sendra2016.dll is a 32-bit x86 DLL" grep -q 'file format pei-i386' "$out/i686/Sendra2016.dll.txt"
# The names of the export table, one a line, as listed after "[Ordinal/Name Pointer] Table".
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$out/i686/Sendra2016.dll.txt" |
	sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ')
echo "     exports: $exports"
check "it exports exactly GetModuleVersion, ModuleDate, ovcInit and ovcExit, undecorated" \
	[ "$exports" = "GetModuleVersion ModuleDate ovcExit ovcInit " ]
# The C runtime's entry calls DllMain as _DllMain@12 (stdcall); a DllMain declared otherwise
# would be left aside for the runtime's empty default and never call InitLib.
i686-w64-mingw32-nm "$out/i686/Sendra2016/CMakeFiles/Sendra2016.dir/module/Sendra2016.cpp.obj" >"$out/i686/Sendra2016.obj.txt"
check "its DllMain is the stdcall _DllMain@12 that the system's entry calls" \
	grep -q ' T _DllMain@12$' "$out/i686/Sendra2016.obj.txt"
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$out/i686/Sendra2016.dll.txt" | tr '\n' ' ')
echo "     imports: $imports"
check "it needs no mingw runtime DLL" sh -c "! echo '$imports' | grep -Eiq 'libstdc|libgcc|winpthread'"
[ "$failed" -eq 0 ] || exit 1

step "64-bit host, Sendra2016.dll and module_smoke (x86_64-w64-mingw32)"
cmake -S . -B "$out/x86_64" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSENDRA_WERROR=ON --no-warn-unused-cli >/dev/null
cmake --build "$out/x86_64" --target module_smoke -j "$jobs"

step "module_smoke under wine"
wine=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
	[ -n "$wine" ] || { [ -x "$candidate" ] && wine=$candidate; } || true
done
[ -n "$wine" ] || { echo "wine64 not found (Debian package wine64)"; exit 1; }
WINEPREFIX="$(pwd)/$out/wineprefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
status=0
(cd "$out/x86_64" && "$wine" module_smoke.exe orbiter smoke.scn) || status=$?
# The wine server of this prefix would linger for a few seconds; end it now.
"$(dirname "$wine")/wineserver" -k 2>/dev/null || true
exit $status
