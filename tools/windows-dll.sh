#!/bin/sh
# Builds Sendra2016.dll for Orbiter 2016 here, on Linux: the module's sources compiled by clang
# in the Visual C++ ABI (Microsoft's decorated names, class layout and calling conventions, as
# orbiter.exe's exports have them) against the stand-in SDK headers, mingw-w64's C headers and
# the header-only parts of libstdc++, then linked by lld-link with no C runtime library, against
# import libraries made here for orbiter.exe, msvcrt.dll and kernel32.dll from the names that the
# module's objects reference.
#
# Usage: tools/windows-dll.sh [--arch i686|x86_64] OUTDIR
#   Writes OUTDIR/Sendra2016.dll and prints its path; the objects, the .def files, the import
#   libraries, the link's response file and its map go to OUTDIR/work/. i686 (the default) is
#   the DLL Orbiter 2016 loads; x86_64 builds the same module for a 64-bit host.
# Needs clang, lld, llvm and the mingw-w64 C++ compiler of the architecture (Debian packages
# clang, lld, llvm, g++-mingw-w64-i686 or g++-mingw-w64-x86-64, for its C and C++ headers);
# installs nothing.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
die() { echo "windows-dll.sh: $*" >&2; exit 1; }

arch=i686
while [ $# -gt 0 ]; do
	case $1 in
	--arch) [ $# -ge 2 ] || die "--arch needs i686 or x86_64"; arch=$2; shift 2 ;;
	--arch=*) arch=${1#--arch=}; shift ;;
	-*) die "unknown option $1 (usage: windows-dll.sh [--arch i686|x86_64] OUTDIR)" ;;
	*) break ;;
	esac
done
[ $# -eq 1 ] || die "usage: windows-dll.sh [--arch i686|x86_64] OUTDIR"
out=$1
for path in "$root" "$out"; do
	case $path in *[[:space:]]*) die "'$path': a path with blanks is not supported" ;; esac
done

# Per architecture: clang's target, mingw-w64's name for it, what mingw's headers expect to be
# told, the linker's machine, the import librarian's, and the entry point's decorated name.
case $arch in
i686)
	target=i686-pc-windows-msvc mingw=i686-w64-mingw32 machine=x86 dlltool=i386
	# SSE2 arithmetic, as Visual C++ compiles by default, instead of the x87's extended precision.
	archflags="-D_X86_ -msse2 -mfpmath=sse" entry=DllMain@12 ;;
x86_64)
	target=x86_64-pc-windows-msvc mingw=x86_64-w64-mingw32 machine=x64 dlltool=i386:x86-64
	archflags="-D_AMD64_" entry=DllMain ;;
*) die "unknown architecture '$arch' (i686 or x86_64)" ;;
esac

# The tools, each named with the Debian package that brings it.
need() {  # need <program> <package>
	command -v "$1" >/dev/null 2>&1 || die "$1 not found (Debian package $2)"
}
need clang++ clang
need lld-link lld
need llvm-dlltool llvm
need llvm-nm llvm
need llvm-rc llvm
need llvm-objdump llvm
need llvm-readobj llvm
need "$mingw-g++" "g++-mingw-w64-$(echo "$arch" | tr _ -)"
cheaders=/usr/$mingw/include
[ -f "$cheaders/stdlib.h" ] || die "$cheaders has no C headers (Debian package mingw-w64-$(echo "$arch" | tr _ -)-dev)"
cxxheaders=$(dirname "$("$mingw-g++" -print-libgcc-file-name)")/include/c++
[ -f "$cxxheaders/cstdlib" ] || die "no libstdc++ headers at $cxxheaders"
msvcrt_exports=$root/tools/windows/msvcrt-exports-$arch.txt
[ -f "$msvcrt_exports" ] || die "$msvcrt_exports is missing (tools/windows/msvcrt-exports.sh $arch)"
# The Windows functions the module calls, all in kernel32.dll.
kernel32_names="GetProcAddress"

work=$out/work
rm -rf "$work"
mkdir -p "$work"
rm -f "$out/Sendra2016.dll"

# --- Compile ------------------------------------------------------------------------------
# The module's sources as the Linux build compiles them (Sendra2016/CMakeLists.txt): strict
# floating point, statics without locks; and without C++ exceptions or type information, which
# would need Visual C++'s runtime. mingw-w64's and libstdc++'s headers take clang for GCC 4.2
# in Microsoft's mode, in strict C++17 as GCC's -std=c++17 announces it (__STRICT_ANSI__);
# tools/windows/msvc-abi.h is read first.
version=$(sed -n 's/^project(Sendra2016 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || die "no project version in CMakeLists.txt"
set -- --target=$target -std=c++17 -D__STRICT_ANSI__ -O2 -DNDEBUG $archflags \
	-fms-extensions -fms-compatibility -fgnuc-version=4.2.1 \
	-fno-exceptions -fno-rtti -fno-threadsafe-statics -ffp-contract=off -fno-fast-math \
	-Wall -Wextra -Wno-overloaded-virtual -Werror \
	-nostdinc -isystem "$cxxheaders" -isystem "$cxxheaders/$mingw" -isystem "$cxxheaders/backward" \
	-isystem "$(clang++ -print-resource-dir)/include" -isystem "$cheaders" \
	-include "$root/tools/windows/msvc-abi.h" -I "$root/host/include"
objects=""
for source in $(cd "$root" && ls Sendra2016/*/*.cpp); do
	object=$work/$(basename "$source" .cpp).obj
	clang++ "$@" -c "$root/$source" -o "$object" || die "cannot compile $source"
	objects="$objects $object"
done
# Without a C runtime nothing runs the initialisers of the objects' .CRT$XC sections (objects
# with a constructor or a computed start value) or the TLS callbacks of .CRT$XL: the module
# may have none.
# shellcheck disable=SC2086
initialised=$(llvm-objdump -h $objects | awk '/file format/{file = $1; sub(/:$/, "", file)} /\.CRT\$X[CL]|\.tls/{print file}' | sort -u | tr '\n' ' ')
[ -z "$initialised" ] || die "objects with initialisers that nothing would run (no C runtime): $initialised"

# --- Import libraries from the names the objects reference --------------------------------
# What the objects reference and none of them defines, by its name in the DLL's export table:
# __imp_ (a call through the import table) and, on i686, C's leading underscore taken off.
# orbiter.exe: the C++ names; kernel32.dll: the Windows functions above (on i686 with their
# stdcall argument size, which the import drops); msvcrt.dll: the C library's names.
# shellcheck disable=SC2086
llvm-nm -j --defined-only $objects | LC_ALL=C sort -u >"$work/defined.txt"
# shellcheck disable=SC2086
llvm-nm -j --undefined-only $objects | sed 's/^__imp_//' | LC_ALL=C sort -u |
	LC_ALL=C comm -23 - "$work/defined.txt" >"$work/referenced.txt"
for lib in orbiter msvcrt kernel32; do : >"$work/$lib.names"; done
while read -r name; do
	case $name in
	\?*) lib=orbiter ;;
	*)
		if [ "$arch" = i686 ]; then name=${name#_}; fi
		case " $kernel32_names " in
		*" ${name%@*} "*) lib=kernel32 ;;
		*) lib=msvcrt ;;
		esac ;;
	esac
	echo "$name" >>"$work/$lib.names"
done <"$work/referenced.txt"

for lib in orbiter msvcrt kernel32; do
	case $lib in orbiter) dll=orbiter.exe ;; *) dll=$lib.dll ;; esac
	{ printf 'LIBRARY %s\nEXPORTS\n' "$dll"; cat "$work/$lib.names"; } >"$work/$lib.def"
	llvm-dlltool -m $dlltool -k -d "$work/$lib.def" -l "$work/$lib.lib" || die "cannot make $lib.lib"
done

# --- Version resource -----------------------------------------------------------------------
commas=$(echo "$version" | tr . ,),0
cat >"$work/version.rc" <<EOF
1 VERSIONINFO
FILEVERSION $commas
PRODUCTVERSION $commas
FILEOS 0x40004
FILETYPE 0x2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "Sendra2016"
      VALUE "FileDescription", "Sendra2016 rover: vessel module for Orbiter 2016"
      VALUE "FileVersion", "$version"
      VALUE "InternalName", "Sendra2016"
      VALUE "OriginalFilename", "Sendra2016.dll"
      VALUE "ProductName", "Sendra2016"
      VALUE "ProductVersion", "$version"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
EOF
# From the work folder with bare names: llvm-rc also takes options after a slash, so an absolute
# path such as /check/... would be read as its /c option.
(cd "$work" && llvm-rc -no-preprocess -fo version.res version.rc) ||
	die "cannot compile the version resource"

# --- Link -----------------------------------------------------------------------------------
# The module's objects, the version resource and the three import libraries only: no default
# library, so no C runtime and none of its start-up code. The system calls DllMain directly (a stdcall function of three
# arguments on i686); nothing else runs at load, so the module has no dynamic initialisers.
# /Brepro: the same sources give the same DLL, byte for byte.
{
	echo /nologo /dll /nodefaultlib /machine:$machine /subsystem:windows /entry:$entry
	echo /opt:ref /opt:icf /Brepro
	echo "/out:$out/Sendra2016.dll" "/implib:$work/Sendra2016.lib" "/map:$work/Sendra2016.map"
	for object in $objects; do echo "$object"; done
	echo "$work/version.res" "$work/orbiter.lib" "$work/msvcrt.lib" "$work/kernel32.lib"
} >"$work/link.rsp"
lld-link "@$work/link.rsp" || die "cannot link Sendra2016.dll"

# mingw-w64's headers define inline functions that the module never calls (hypotf and others);
# the linker drops them, but their references to names that msvcrt.dll may not have (hypot)
# stay in the objects and so in msvcrt.lib. What the DLL imports must exist.
llvm-readobj --coff-imports "$out/Sendra2016.dll" |
	awk '/^ *Name: /{dll = $2} /^ *Symbol: /{print dll, $2}' >"$work/imports.txt"
grep -v '^#' "$msvcrt_exports" | sed 's/^/msvcrt.dll /' | LC_ALL=C sort >"$work/msvcrt-exports.txt"
missing=$(grep '^msvcrt.dll ' "$work/imports.txt" | LC_ALL=C sort | LC_ALL=C comm -23 - "$work/msvcrt-exports.txt" |
	cut -d' ' -f2 | tr '\n' ' ')
if [ -n "$missing" ]; then
	rm -f "$out/Sendra2016.dll"
	die "the module calls C library functions that msvcrt.dll does not export: $missing"
fi
# The 32-bit DLL computes in SSE2, as the builds that are run and compared do: the x87 only
# where a double crosses a call in ST0, as the 32-bit calling convention returns one (fld to
# return it, fstp to take what a called function returned, or to drop it). Any other x87
# instruction is arithmetic in the x87's extended precision.
if [ "$arch" = i686 ]; then
	x87=$(llvm-objdump -d --no-show-raw-insn "$out/Sendra2016.dll" | awk '$1 ~ /^[0-9a-f]+:$/ && $2 ~ /^f/ {
		if ($2 ~ /^(fld|fstp)[sl]?$/ && $3 !~ /^%st/) next
		if ($2 == "fstp" && $3 == "%st(0)") next
		print $2 }' | LC_ALL=C sort | uniq -c | awk '{printf "%s%s (%d)", sep, $2, $1; sep = ", "}')
	if [ -n "$x87" ]; then
		rm -f "$out/Sendra2016.dll"
		die "the DLL computes with the x87, not SSE2: $x87"
	fi
fi
echo "$out/Sendra2016.dll"
