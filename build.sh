#!/bin/sh
# Installs what the build needs (Debian packages), configures and builds the project with
# CMake and Ninja in ./build, then runs sendra-sim on its embedded default drive.
# Extra CMake arguments can be given in SENDRA_CMAKE_ARGS.
set -eu
cd "$(dirname "$0")"

PACKAGES="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcairo2-dev libexpat1-dev libcpp-httplib-dev libboost-dev"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# Installs the Debian packages named. A mirror in the middle of its sync serves an index of the
# wrong size and apt-get update fails: tried again a little later, and at the last taken as it
# stands, so that a package it cannot find fails the install with apt's own message.
install_packages() {
	echo "Installing: $*"
	for wait in 10 30 0; do
		$SUDO apt-get update && break
		[ "$wait" -eq 0 ] || { echo "build.sh: apt-get update failed; again in $wait s" >&2; sleep "$wait"; }
	done
	DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$@"
}

missing=""
for p in $PACKAGES; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# shellcheck disable=SC2086
[ -z "$missing" ] || install_packages $missing

# npm installs three.js for the page of sendra-sim serve; a Node.js from elsewhere that brings
# its own npm is used as it is.
command -v npm >/dev/null 2>&1 || install_packages nodejs npm

# shellcheck disable=SC2086
cmake -S . -B build -G Ninja ${SENDRA_CMAKE_ARGS:-}
cmake --build build

if [ -x build/sendra-sim ]; then
	./build/sendra-sim
fi
