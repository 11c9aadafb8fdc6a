#!/bin/sh
# The module cross-built with mingw-w64 for 64 bits, with the stand-in host's DLL, driven under
# wine (ctest's windows.mingw_smoke): module_smoke loads Sendra2016.dll with LoadLibrary, drives
# two rovers, saves a scenario and unloads it, as the Linux test suite's module_smoke does. A DLL
# built with g++ runs only in the stand-in host (Orbiter's exports carry Visual C++ names); this
# shows that the module and the host build and run as Windows programs.
# Usage: tools/windows/mingw-smoke.sh BUILD
#   BUILD is the project's Linux build; the mingw-w64 tree is BUILD/mingw-x86_64 and the wine
#   prefix BUILD/wineprefix; SENDRA_LAUNCHER, if set, is its compiler launcher (ccache). Exits 77 (ctest's skip) with the Debian packages it needs
#   (g++-mingw-w64-x86-64, wine64) when they are not installed.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: tools/windows/mingw-smoke.sh BUILD" >&2; exit 2; }
build=$(cd "$1" && pwd)
missing=""
command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
if [ -n "$missing" ]; then
	echo "mingw-smoke: SKIPPED: not installed: the Debian packages$missing"
	exit 77
fi
mingw=$build/mingw-x86_64
# shellcheck disable=SC2086
cmake -S "$root" -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DSENDRA_WERROR=ON \
	${SENDRA_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$SENDRA_LAUNCHER} --no-warn-unused-cli >/dev/null
cmake --build "$mingw" --target module_smoke -j "${SENDRA_JOBS:-2}"
wineprefix=$build/wineprefix
. "$root/tools/windows/wine-env.sh"
status=0
(cd "$mingw" && "$wine" module_smoke.exe orbiter smoke.scn) || status=$?
# The wine server of this prefix would linger for a few seconds; end it now.
"$wineserver" -k 2>/dev/null || true
exit $status
