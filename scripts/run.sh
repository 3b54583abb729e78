#!/bin/bash
# Installs what is missing, builds the simulator and starts it.
source "$(dirname "$0")/common.sh"
install_missing "${BUILD_PACKAGES[@]}"
build build RelWithDebInfo -DSANDPILE_TESTS=OFF
exec build/sandpile "$@"
