#!/bin/sh
# Installs the Debian packages the build and the tests need (mandoc checks the
# manual pages), when missing.
set -e
need=""
for pkg in cmake make g++ libgtest-dev libeigen3-dev mandoc; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need="$need $pkg"
done
if [ -n "$need" ]; then
    echo "Installing:$need"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $need
fi
