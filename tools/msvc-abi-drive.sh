#!/bin/sh
# The Visual C++ ABI build of the module, run and compared. Sendra2016.dll is built as the
# players' DLL is (tools/windows-dll.sh, same sources, same build), importing from orbiter.exe
# and msvcrt.dll: for x86-64, or for i686 the players' DLL itself, taken from the win32 zip;
# orbiter.exe is module_smoke built with mingw-w64 for the same architecture around the stand-in
# host, with the bridge of tools/windows/MsvcBridge.cpp and the exports that
# tools/windows/msvc-bridge-def.sh derives from the DLL's imports. It drives the DLL under wine
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
# Usage: tools/msvc-abi-drive.sh [--arch x86_64|i686]   (x86_64 by default)
#
# i686 runs under emulation on a machine that cannot execute 32-bit code: 32-bit programs are
# run by qemu-i386, registered privately (tools/windows/wine-i686.sh), with a wine prefix of
# their own kept in ~/.cache/sendra2016/wineprefix-i686 (or $SENDRA_WINE_I686_PREFIX) and reused
# while complete. Each 32-bit program takes some minutes to start there; the two Windows drives
# run side by side.
#
# Prints one line: the comparison's outcome, the largest difference seen and the SHA-256 of the
# DLL driven (with the first differences and the drives' output when they disagree); exits 0
# only when they agree and the planted fault is caught.
# Builds the Linux programs in build/ (or $SENDRA_BUILD) and the Windows ones in
# build-windows/ (or $SENDRA_WINDOWS_BUILD), reusing the trees that the project's build and
# tools/windows-check.sh leave there; its own files go to build-windows/msvc-abi/ (msvc-abi-i686/).
# Needs what tools/windows-check.sh needs (clang, lld, llvm, g++-mingw-w64-x86-64, wine64); for
# i686 also g++-mingw-w64-i686, wine32:i386 and qemu-user-static.
set -eu
cd "$(dirname "$0")/.."
arch=x86_64
case "${1:-}" in
'') ;;
--arch) [ $# -eq 2 ] && arch=$2 ;;
--arch=*) [ $# -eq 1 ] && arch=${1#--arch=} ;;
*) arch="" ;;
esac
case $arch in
x86_64) name=msvc-abi-drive work=msvc-abi ;;
i686) name="msvc-abi-drive --arch i686" work=msvc-abi-i686 ;;
*) echo "usage: tools/msvc-abi-drive.sh [--arch x86_64|i686]" >&2; exit 2 ;;
esac
linux=${SENDRA_BUILD:-build}
windows=${SENDRA_WINDOWS_BUILD:-build-windows}
jobs=${SENDRA_JOBS:-2}
mingw=$windows/$arch
work=$windows/$work

fail() {  # fail <what> <log>...: the outcome line, then the logs that say why
	what=$1
	shift
	for log in "$@"; do
		[ -s "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
	done
	echo "$name: FAILED: $what"
	exit 1
}

# What the 32-bit drive needs beyond the x86-64 one, named by its Debian package.
if [ "$arch" = i686 ]; then
	command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || fail "i686-w64-mingw32-g++ not found (Debian package g++-mingw-w64-i686)"
	missing=$(./tools/windows/wine-i686.sh --check 2>&1) || fail "$missing"
fi

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/build.log

# The Linux drive and the comparison, in the project's build tree.
[ -f "$linux/CMakeCache.txt" ] || cmake -S . -B "$linux" -G Ninja -DSENDRA_WERROR=ON >"$log" 2>&1 ||
	fail "cannot configure $linux" "$log"
cmake --build "$linux" --target module_smoke record_compare -j "$jobs" >>"$log" 2>&1 ||
	fail "cannot build module_smoke and record_compare in $linux" "$log"

# The module in the Visual C++ ABI: for i686 the players' DLL, as the win32 zip holds it.
if [ "$arch" = i686 ]; then
	cmake --build "$linux" --target package_win32 >>"$log" 2>&1 || fail "cannot make the win32 zip in $linux" "$log"
	zip=$(cd "$linux" && ls "$(pwd)"/Sendra2016-*-win32.zip)
	mkdir -p "$work/zip"
	(cd "$work/zip" && cmake -E tar xf "$zip" Modules/Sendra2016.dll) >>"$log" 2>&1 ||
		fail "cannot take Modules/Sendra2016.dll out of $zip" "$log"
	dll=$work/zip/Modules/Sendra2016.dll
	from="Modules/Sendra2016.dll of $(basename "$zip")"
else
	dll=$(./tools/windows-dll.sh --arch x86_64 "$work/dll" 2>>"$log") || fail "cannot build the x86-64 Sendra2016.dll" "$log"
	from="built with tools/windows-dll.sh --arch x86_64"
fi
sha256=$(sha256sum "$dll" | cut -d' ' -f1)

# The host, its export .def for that module, and orbiter.exe, in the mingw-w64 tree.
cmake -S . -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$arch.cmake -DSENDRA_WERROR=ON \
	-DSENDRA_MSVC_BRIDGE_DEF="$work/orbiter.def" --no-warn-unused-cli >>"$log" 2>&1 ||
	fail "cannot configure $mingw" "$log"
cmake --build "$mingw" --target OrbiterHost stage_assets -j "$jobs" >>"$log" 2>&1 ||
	fail "cannot build the host in $mingw" "$log"
./tools/windows/msvc-bridge-def.sh "$dll" "$mingw/libOrbiterHost.dll" "$work/orbiter.def" 2>>"$log" ||
	fail "cannot serve the module's imports" "$log"
cmake --build "$mingw" --target orbiter_msvc_bridge -j "$jobs" >>"$log" 2>&1 || fail "cannot build orbiter.exe" "$log"

# The Orbiter folder of the Windows drive: the staged add-on with the Visual C++ ABI module.
linux=$(cd "$linux" && pwd) mingw=$(cd "$mingw" && pwd)
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
	. tools/windows/wine-env.sh
	rm -f "$work/registered"
	SENDRA_I386_REGISTERED=$work/registered ./tools/windows/wine-i686.sh "$wineprefix" \
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
	wineprefix=$windows/wineprefix
	. tools/windows/wine-env.sh
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

echo "$name: $(head -n 1 "$work/compare.txt") (a Sketchpad table in the GNU order is caught: $(sed -n 's/^DIFFER: \([0-9]*\) diff.*/\1/p' "$work/planted.txt") differences); drove Sendra2016.dll SHA-256 $sha256, $from"
