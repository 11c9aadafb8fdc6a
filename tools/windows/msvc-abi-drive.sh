#!/bin/sh
# The players' DLLs, run and compared (ctest's windows.drive.<arch>): Modules/Sendra2016.dll of
# a players' zip (win64 for x86_64, win32 for i686, as cmake/WindowsPackage.cmake makes them),
# driven under wine by orbiter.exe, which is module_smoke built with mingw-w64 for the same
# architecture around the stand-in host, with the bridge of tools/windows/MsvcBridge.cpp and the
# exports that tools/windows/msvc-bridge-def.sh derives from the DLL's imports. It drives the DLL
# (two rovers, keys, 406 frames, a save, deletion, a reload, unloading, and a rover whose saved
# value fills the module's buffer) while the Linux module_smoke drives the stand-in's own build
# alike, each writing the drive's record; then record_compare: every discrete output equal (HUD
# texts and positions, status, lights, the rover's saved lines, the doors' and sunscreen's
# animation states, the host calls in order), every continuous one (position, heading,
# attitude, wheels, swivels, posed mesh) within 1e-12 relative, as wine's C library may round
# differently from glibc in the last bit. And the comparison's check of itself: a second Windows
# drive with the bridge's Sketchpad table laid out in the GNU order
# (SENDRA_BRIDGE_FAULT=gnu-sketchpad) must differ, at a HUD text.
#
# Usage: tools/windows/msvc-abi-drive.sh x86_64|i686 BUILD ZIP
#   BUILD is the project's Linux build, with module_smoke and record_compare built; the mingw-w64
#   tree is BUILD/mingw-<arch> (SENDRA_LAUNCHER, if set, its compiler launcher: ccache), the
#   drive's own files go to BUILD/msvc-abi-<arch>/.
#
# i686 runs under emulation on a machine that cannot execute 32-bit code: 32-bit programs are
# run by qemu-i386, registered privately (tools/windows/wine-i686.sh), with a wine prefix of
# their own kept in ~/.cache/sendra2016/wineprefix-i686 (or $SENDRA_WINE_I686_PREFIX) and reused
# while complete. Each 32-bit program takes some minutes to start there; the two Windows drives
# run side by side. x86_64 uses the wine prefix BUILD/wineprefix.
#
# Prints one line: the comparison's outcome, the largest difference seen and the SHA-256 of the
# DLL driven (with the first differences and the drives' output when they disagree); exits 0
# only when they agree and the planted fault is caught, and 77 (ctest's skip) with the Debian
# packages it needs when they are not installed: g++-mingw-w64-x86-64 and wine64 for x86_64,
# g++-mingw-w64-i686, wine64, wine32:i386 and qemu-user-static for i686; llvm for both.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 3 ] || { echo "usage: tools/windows/msvc-abi-drive.sh x86_64|i686 BUILD ZIP" >&2; exit 2; }
arch=$1
case $arch in
x86_64 | i686) name="msvc-abi-drive $arch" ;;
*) echo "usage: tools/windows/msvc-abi-drive.sh x86_64|i686 BUILD ZIP" >&2; exit 2 ;;
esac
linux=$(cd "$2" && pwd)
zip=$3
jobs=${SENDRA_JOBS:-2}
mingw=$linux/mingw-$arch
work=$linux/msvc-abi-$arch

fail() {  # fail <what> <log>...: the outcome line, then the logs that say why
	what=$1
	shift
	for log in "$@"; do
		[ -s "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
	done
	echo "$name: FAILED: $what"
	exit 1
}

skip() {  # skip <why>: ctest's skip, with the reason
	echo "$name: SKIPPED: $*"
	exit 77
}
missing=""
for tool in llvm-readobj:llvm llvm-undname:llvm llvm-cxxfilt:llvm $arch-w64-mingw32-g++:g++-mingw-w64-$(echo "$arch" | tr _ -); do
	command -v "${tool%%:*}" >/dev/null 2>&1 || missing="$missing ${tool#*:}"
done
command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
[ -z "$missing" ] || skip "not installed: the Debian packages$missing"
if [ "$arch" = i686 ]; then
	why=$("$root/tools/windows/wine-i686.sh" --check 2>&1) || skip "$why"
fi
for program in module_smoke record_compare; do
	[ -x "$linux/$program" ] || fail "$linux/$program is not built"
done
[ -f "$zip" ] || fail "$zip: no such file"

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/build.log

# The module in the Visual C++ ABI, as the players' zip holds it.
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip" Modules/Sendra2016.dll) >>"$log" 2>&1 ||
	fail "cannot take Modules/Sendra2016.dll out of $zip" "$log"
dll=$work/zip/Modules/Sendra2016.dll
from="Modules/Sendra2016.dll of $(basename "$zip")"
sha256=$(sha256sum "$dll" | cut -d' ' -f1)

# The host, its export .def for that module, and orbiter.exe, in the mingw-w64 tree.
# shellcheck disable=SC2086
cmake -S "$root" -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" -DSENDRA_WERROR=ON \
	${SENDRA_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$SENDRA_LAUNCHER} -DSENDRA_MSVC_BRIDGE_DEF="$work/orbiter.def" --no-warn-unused-cli >>"$log" 2>&1 ||
	fail "cannot configure $mingw" "$log"
cmake --build "$mingw" --target OrbiterHost stage_assets -j "$jobs" >>"$log" 2>&1 ||
	fail "cannot build the host in $mingw" "$log"
"$root/tools/windows/msvc-bridge-def.sh" "$dll" "$mingw/libOrbiterHost.dll" "$work/orbiter.def" 2>>"$log" ||
	fail "cannot serve the module's imports" "$log"
cmake --build "$mingw" --target orbiter_msvc_bridge -j "$jobs" >>"$log" 2>&1 || fail "cannot build orbiter.exe" "$log"

# The Orbiter folder of the Windows drive: the staged add-on with the Visual C++ ABI module.
mingw=$(cd "$mingw" && pwd)
cp -R "$mingw/orbiter" "$work/orbiter"
rm -f "$work/orbiter/Modules/"*
cp "$dll" "$work/orbiter/Modules/Sendra2016.dll"

linuxStatus=0
(cd "$work" && "$linux/module_smoke" "$linux/orbiter" linux.scn --record linux.record) \
	>"$work/linux.log" 2>&1 || linuxStatus=$?
[ -f "$work/linux.record" ] || fail "the Linux drive wrote no record (status $linuxStatus)" "$work/linux.log"
# The Windows drives, side by side: the module as it is, and the drive's check of itself, the
# bridge's Sketchpad table laid out in the GNU order, every method one slot away from where the
# module calls it, which the comparison must catch at the HUD text the module paints first. Each
# writes <name>.record, <name>.log and <name>.status in $work.
drives='cd "$1" && for run in windows planted; do
	fault=""
	[ $run = windows ] || fault=gnu-sketchpad
	{ SENDRA_BRIDGE_FAULT=$fault "$2" "$3" orbiter $run.scn --record $run.record >$run.log 2>&1; echo $? >$run.status; } &
done
wait'
rm -f "$work/windows.status" "$work/planted.status"
if [ "$arch" = i686 ]; then
	# Under emulation, in a prefix of their own; qemu-i386's registration is checked not to show
	# in the machine's own binfmt_misc while they run (where this is root and can look).
	wineprefix=${SENDRA_WINE_I686_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/sendra2016/wineprefix-i686}
	mkdir -p "$(dirname "$wineprefix")"
	. "$root/tools/windows/wine-env.sh"
	rm -f "$work/registered"
	SENDRA_I386_REGISTERED=$work/registered "$root/tools/windows/wine-i686.sh" "$wineprefix" \
		sh -c "$drives" sh "$work" "$wine" "$mingw/orbiter.exe" >"$work/emulation.log" 2>&1 &
	emulation=$!
	while [ ! -f "$work/registered" ] && kill -0 $emulation 2>/dev/null; do sleep 1; done
	leak=""
	if [ "$(cat "$work/registered" 2>/dev/null)" = private ] && [ "$(id -u)" -eq 0 ]; then
		unshare --mount sh -c 'mount -t binfmt_misc none /proc/sys/fs/binfmt_misc &&
			test ! -e /proc/sys/fs/binfmt_misc/sendra2016-i386' 2>/dev/null || leak=1
	fi
	emulationStatus=0
	wait $emulation || emulationStatus=$?
	[ -z "$leak" ] || fail "qemu-i386's registration shows in the machine's own binfmt_misc"
	[ $emulationStatus -eq 0 ] || fail "the emulated drives did not run (status $emulationStatus)" "$work/emulation.log"
else
	wineprefix=$linux/wineprefix
	. "$root/tools/windows/wine-env.sh"
	sh -c "$drives" sh "$work" "$wine" "$mingw/orbiter.exe"
	# The wine server of this prefix would linger for a few seconds; end it now.
	"$wineserver" -k 2>/dev/null || true
fi
for run in windows planted; do
	[ -f "$work/$run.record" ] ||
		fail "the Windows drive wrote no record (status $(cat "$work/$run.status" 2>/dev/null || echo unknown))" "$work/$run.log"
done
driveStatus=$(cat "$work/windows.status")
compareStatus=0
"$linux/record_compare" "$work/linux.record" "$work/windows.record" >"$work/compare.txt" 2>&1 || compareStatus=$?
if [ $compareStatus -ne 0 ] || [ $linuxStatus -ne 0 ] || [ $driveStatus -ne 0 ]; then
	tail -n +2 "$work/compare.txt"
	for run in linux windows; do
		grep -v '^ok ' "$work/$run.log" | sed "s/^/$run: /"
	done
	[ $compareStatus -ne 0 ] || echo "$name: FAILED: a drive's own checks failed, though the records agree"
	echo "$name: $(head -n 1 "$work/compare.txt") (Linux drive status $linuxStatus, Windows drive status $driveStatus)"
	exit 1
fi
plantedStatus=0
"$linux/record_compare" "$work/linux.record" "$work/planted.record" >"$work/planted.txt" 2>&1 || plantedStatus=$?
if [ $plantedStatus -ne 1 ] || ! head -n 1 "$work/planted.txt" | grep -q 'the first at line [0-9]*: expected "[^"]* hud '; then
	cat "$work/planted.txt"
	echo "$name: FAILED: the comparison did not catch the Sketchpad table laid out in the GNU order at a HUD text"
	exit 1
fi
# What wine loaded is the zip's DLL, byte for byte.
driven=$(sha256sum "$work/orbiter/Modules/Sendra2016.dll" | cut -d' ' -f1)
[ "$driven" = "$sha256" ] || fail "the DLL driven (SHA-256 $driven) is not the zip's ($sha256)"

echo "$name: $(head -n 1 "$work/compare.txt") (a Sketchpad table in the GNU order is caught: $(sed -n 's/^DIFFER: \([0-9]*\) diff.*/\1/p' "$work/planted.txt") differences); drove Sendra2016.dll SHA-256 $sha256, $from"
