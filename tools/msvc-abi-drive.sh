#!/bin/sh
# The Visual C++ ABI build of the module, run and compared. Sendra2016.dll is built as the
# players' DLL is (tools/windows-dll.sh, same sources, same build) for x86-64, importing from
# orbiter.exe and msvcrt.dll; orbiter.exe is module_smoke built with mingw-w64 around the
# stand-in host, with the bridge of tools/windows/MsvcBridge.cpp and the exports that
# tools/windows/msvc-bridge-def.sh derives from the DLL's imports. It drives the DLL under
# wine64 (two rovers, keys, 406 frames, a save, deletion, a reload, unloading) while the Linux
# module_smoke drives the stand-in's own build alike, each writing the drive's record; then
# record_compare: every discrete output equal (HUD texts and positions, status, lights, the
# rover's saved lines, the doors' and sunscreen's animation states, the host calls in order),
# every continuous one (position, heading, attitude, wheels, swivels, posed mesh) within 1e-12
# relative, as wine's C library may round differently from glibc in the last bit. And the
# comparison's check of itself: a second Windows drive with the bridge's Sketchpad table laid
# out in the GNU order (SENDRA_BRIDGE_FAULT=gnu-sketchpad) must differ, at a HUD text.
#
# Prints one line: the comparison's outcome and the largest difference seen (with the first
# differences and the drives' output when they disagree); exits 0 only when they agree and the
# planted fault is caught.
# Builds the Linux programs in build/ (or $SENDRA_BUILD) and the Windows ones in
# build-windows/ (or $SENDRA_WINDOWS_BUILD), reusing the trees that the project's build and
# tools/windows-check.sh leave there; its own files go to build-windows/msvc-abi/.
# Needs what tools/windows-check.sh needs (clang, lld, llvm, g++-mingw-w64-x86-64, wine64).
set -eu
cd "$(dirname "$0")/.."
linux=${SENDRA_BUILD:-build}
windows=${SENDRA_WINDOWS_BUILD:-build-windows}
jobs=${SENDRA_JOBS:-2}
mingw=$windows/x86_64
work=$windows/msvc-abi

fail() {  # fail <what> <log>...: the outcome line, then the logs that say why
	what=$1
	shift
	for log in "$@"; do
		[ -s "$log" ] && { echo "--- $log"; tail -n 40 "$log"; }
	done
	echo "msvc-abi-drive: FAILED: $what"
	exit 1
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
log=$work/build.log

# The Linux drive and the comparison, in the project's build tree.
[ -f "$linux/CMakeCache.txt" ] || cmake -S . -B "$linux" -G Ninja -DSENDRA_WERROR=ON >"$log" 2>&1 ||
	fail "cannot configure $linux" "$log"
cmake --build "$linux" --target module_smoke record_compare -j "$jobs" >>"$log" 2>&1 ||
	fail "cannot build module_smoke and record_compare in $linux" "$log"

# The module in the Visual C++ ABI for x86-64.
dll=$(./tools/windows-dll.sh --arch x86_64 "$work/dll" 2>>"$log") || fail "cannot build the x86-64 Sendra2016.dll" "$log"

# The host, its export .def for that module, and orbiter.exe, in the mingw-w64 tree.
cmake -S . -B "$mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSENDRA_WERROR=ON \
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
wineprefix=$windows/wineprefix
. tools/windows/wine-env.sh
# windows_drive <name>: orbiter.exe drives the module under wine, writing <name>.record and
# <name>.log in $work and its exit status in $windowsStatus.
windows_drive() {
	windowsStatus=0
	(cd "$work" && "$wine" "$mingw/orbiter.exe" orbiter "$1.scn" --record "$1.record") \
		>"$work/$1.log" 2>&1 || windowsStatus=$?
	[ -f "$work/$1.record" ] || fail "the Windows drive wrote no record (status $windowsStatus)" "$work/$1.log"
}
unset SENDRA_BRIDGE_FAULT
windows_drive windows
driveStatus=$windowsStatus

# The drive's check of itself: the bridge's Sketchpad table laid out in the GNU order, every
# method one slot away from where the module calls it, must be caught by the comparison, at
# the HUD text the module paints first.
SENDRA_BRIDGE_FAULT=gnu-sketchpad windows_drive planted
unset SENDRA_BRIDGE_FAULT
# The wine server of this prefix would linger for a few seconds; end it now.
"$wineserver" -k 2>/dev/null || true
compareStatus=0
"$linux/record_compare" "$work/linux.record" "$work/windows.record" >"$work/compare.txt" 2>&1 || compareStatus=$?
if [ $compareStatus -ne 0 ] || [ $linuxStatus -ne 0 ] || [ $driveStatus -ne 0 ]; then
	tail -n +2 "$work/compare.txt"
	for run in linux windows; do
		grep -v '^ok ' "$work/$run.log" | sed "s/^/$run: /"
	done
	echo "msvc-abi-drive: $(head -n 1 "$work/compare.txt") (Linux drive status $linuxStatus, Windows drive status $driveStatus)"
	exit 1
fi
plantedStatus=0
"$linux/record_compare" "$work/linux.record" "$work/planted.record" >"$work/planted.txt" 2>&1 || plantedStatus=$?
if [ $plantedStatus -ne 1 ] || ! head -n 1 "$work/planted.txt" | grep -q 'the first at line [0-9]*: expected "[^"]* hud '; then
	cat "$work/planted.txt"
	echo "msvc-abi-drive: FAILED: the comparison did not catch the Sketchpad table laid out in the GNU order at a HUD text"
	exit 1
fi

echo "msvc-abi-drive: $(head -n 1 "$work/compare.txt") (a Sketchpad table in the GNU order is caught: $(sed -n 's/^DIFFER: \([0-9]*\) diff.*/\1/p' "$work/planted.txt") differences)"
