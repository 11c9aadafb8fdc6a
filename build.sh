#!/bin/sh
# Installs what the build needs (Debian packages), configures and builds the project with
# CMake and Ninja in ./build, then runs sendra-sim on its embedded default drive.
# Extra CMake arguments can be given in SENDRA_CMAKE_ARGS.
set -eu
cd "$(dirname "$0")"

PACKAGES="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcairo2-dev libexpat1-dev libcpp-httplib-dev libboost-dev"
missing=""
for p in $PACKAGES; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
	echo "Installing:$missing"
	SUDO=""
	[ "$(id -u)" -ne 0 ] && SUDO="sudo"
	$SUDO apt-get update
	DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi

# npm installs three.js for the page of sendra-sim serve; a Node.js from elsewhere that brings
# its own npm is used as it is.
if ! command -v npm >/dev/null 2>&1; then
	echo "Installing: nodejs npm"
	SUDO=""
	[ "$(id -u)" -ne 0 ] && SUDO="sudo"
	$SUDO apt-get update
	DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends nodejs npm
fi

# shellcheck disable=SC2086
cmake -S . -B build -G Ninja ${SENDRA_CMAKE_ARGS:-}
cmake --build build

if [ -x build/sendra-sim ]; then
	./build/sendra-sim
fi
