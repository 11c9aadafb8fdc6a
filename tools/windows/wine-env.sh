# Sourced by the Windows scripts: sets $wine to Debian's wine64 and $wineserver beside it, and
# exports a quiet WINEPREFIX in the folder $wineprefix (made on first use, then reused), whose
# parent folder must exist.
wine=$(command -v wine64 || true)
for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64; do
	[ -n "$wine" ] || { [ -x "$candidate" ] && wine=$candidate; } || true
done
[ -n "$wine" ] || { echo "wine64 not found (Debian package wine64)" >&2; exit 1; }
wineserver=$(dirname "$wine")/wineserver
WINEPREFIX=$(cd "$(dirname "$wineprefix")" && pwd)/$(basename "$wineprefix")
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
