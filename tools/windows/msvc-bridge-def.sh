#!/bin/sh
# Writes the export .def of orbiter.exe, the stand-in host's program that runs a module built in
# the Visual C++ ABI for x86-64 or i686 (tools/windows/msvc-abi-drive.sh): for every name the
# module imports from orbiter.exe, the host's function that serves it. A function whose call is
# the same in both ABIs is forwarded to the host's library, found by its signature (the Visual
# C++ name demangled by llvm-undname, the host's GNU name by llvm-cxxfilt; on i686 both compilers pass a
# member function's this in ecx, __thiscall); the few whose calls differ are served by the
# bridge (tools/windows/MsvcBridge.cpp), listed below by signature. A name neither can serve
# stops the build with the rule it breaks.
#
# Usage: tools/windows/msvc-bridge-def.sh MODULE.dll HOST.dll OUT.def
# Needs llvm (llvm-readobj, llvm-undname, llvm-cxxfilt).
set -eu
die() { echo "msvc-bridge-def.sh: $*" >&2; exit 1; }
[ $# -eq 3 ] || die "usage: msvc-bridge-def.sh MODULE.dll HOST.dll OUT.def"
module=$1 hostdll=$2 out=$3
for tool in llvm-readobj llvm-undname llvm-cxxfilt; do
	command -v $tool >/dev/null 2>&1 || die "$tool not found (Debian package llvm)"
done
for file in "$module" "$hostdll"; do [ -f "$file" ] || die "$file: no such file"; done

# The functions the bridge serves, by their signature as normalise() writes it, each with the
# rule that keeps it from being forwarded.
bridged() {
	cat <<'EOF'
# Visual C++ constructors return this (in rax or eax), and the caller may use it; g++'s return
# nothing.
VESSEL3::VESSEL3(void*,int)	MsvcBridge_VESSEL3
# The Sketchpad the module has is the bridge's, laid out as Visual C++ lays it out; the host's
# default callback is given the host's own.
VESSEL3::clbkDrawHUD(int,HUDPAINTSPEC const*,oapi::Sketchpad*)	MsvcBridge_VESSEL3_clbkDrawHUD
EOF
}

# A signature as both demanglers can be brought to write it: no access, virtual or static, no
# return type, no calling convention, no class, struct, union or enum keyword, no blank around
# punctuation, "()" for "(void)".
normalise() {
	sed -E 's/^(public|protected|private): //; s/^(virtual|static) //; s/^[^(]*__(cdecl|thiscall) //;
		s/(class|struct|union|enum) //g; s/__(cdecl|thiscall)//g; s/\(void\)/()/g;
		s/ *([^A-Za-z0-9_ ]) */\1/g; s/  +/ /g; s/^ //; s/ $//'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
host=$(basename "$hostdll" .dll)

# The host's exports: "normalised-signature<TAB>GNU name", the first of each signature.
llvm-readobj --coff-exports "$hostdll" | sed -n 's/^ *Name: \(_Z..*\)$/\1/p' | LC_ALL=C sort -u >"$work/gnu.txt"
llvm-cxxfilt <"$work/gnu.txt" | normalise | paste - "$work/gnu.txt" | LC_ALL=C sort -t'	' -k1,1 -u >"$work/host.txt"

# The module's imports from orbiter.exe, each with its demangled form.
llvm-readobj --coff-imports "$module" |
	awk '/^ *Name: /{dll = $2} /^ *Symbol: /{if (dll == "orbiter.exe") print $2}' | LC_ALL=C sort -u >"$work/imports.txt"
[ -s "$work/imports.txt" ] || die "$module imports nothing from orbiter.exe"
llvm-undname <"$work/imports.txt" 2>/dev/null | paste -d'\t' - - - | cut -f1,2 >"$work/demangled.txt"

bridged | grep -v '^#' >"$work/bridged.txt"
{
	echo "; orbiter.exe's exports for $(basename "$module"), written by tools/windows/msvc-bridge-def.sh"
	echo "EXPORTS"
	while IFS='	' read -r name signature; do
		wanted=$(echo "$signature" | normalise)
		bridge=$(awk -F'\t' -v s="$wanted" '$1 == s {print $2}' "$work/bridged.txt")
		if [ -n "$bridge" ]; then
			echo "\"$name\" = $bridge"
			continue
		fi
		case $name in
		'??0'* | '??1'*) die "$signature: a constructor or destructor needs a bridge function (Visual C++'s return this)" ;;
		esac
		case $signature in
		*Sketchpad*) die "$signature: takes a Sketchpad, which the module has in Visual C++'s layout: it needs a bridge function" ;;
		public:* | protected:* | private:*)
			# The return type of a member function, between its access and the calling convention.
			returns=$(echo "$signature" | sed -E 's/^[a-z]+: //; s/^(virtual|static) //; s/ __(cdecl|thiscall) .*//')
			case $returns in
			*'*' | *'&') ;;
			class\ * | struct\ * | union\ *)
				die "$signature: returns a structure by value, which Visual C++ does through a hidden pointer after this and g++ before it: it needs a bridge function" ;;
			esac ;;
		esac
		gnu=$(awk -F'\t' -v s="$wanted" '$1 == s {print $2}' "$work/host.txt")
		[ -n "$gnu" ] || die "$signature: $(basename "$hostdll") exports no function '$wanted'"
		echo "\"$name\" = $host.$gnu"
	done <"$work/demangled.txt"
} >"$work/out.def"
mv "$work/out.def" "$out"
