#!/bin/bash
# Installs what is missing, builds the program twice (optimised, and with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs the whole test
# suite on both builds. The X11 test starts its own Xvfb; the zoom folder's
# test, headless Chromium. The Python module
# is built and tested in the optimised build only.
source "$(dirname "$0")/common.sh"
install_missing "${BUILD_PACKAGES[@]}" "${PYTHON_PACKAGES[@]}" xvfb xdotool x11-utils imagemagick libbenchmark-dev \
    desktop-file-utils appstream dpkg-dev file man-db parallel chromium

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0

build build RelWithDebInfo -DSANDPILE_TESTS=ON
(cd build && ctest --output-on-failure --timeout 900)

build build-asan Asan -DSANDPILE_TESTS=ON
(cd build-asan && ctest --output-on-failure --timeout 1800)
