#!/bin/bash
# Checks of the program as installed, one per ctest test:
#     check.sh files|metadata|manual|program|package
# Settings come from the environment (see CMakeLists.txt beside this file):
# BUILD_DIR, WORK_DIR, PREFIX, INSTALLED_FILES, APP_ID, VERSION, WINDOW_TITLE.
set -euo pipefail

root=$WORK_DIR/root   # the DESTDIR of the installation under test
installed=$root$PREFIX
desktop=$installed/share/applications/$APP_ID.desktop
metainfo=$installed/share/metainfo/$APP_ID.metainfo.xml
icon=$installed/share/icons/hicolor/scalable/apps/$APP_ID.svg
manual=$installed/share/man/man6/sandpile.6.gz
statsManual=$installed/share/man/man1/sandpile-stats.1.gz
program=$installed/bin/sandpile

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# expect WHAT EXPECTED ACTUAL
expect() {
    [ "$2" = "$3" ] || fail "$1: expected '$2', found '$3'"
}

# The expected paths, absolute, sorted.
expected_paths() {
    sed "s|^|$PREFIX/|" "$INSTALLED_FILES" | sort
}

# An installation into a fresh DESTDIR holds exactly the expected files.
check_files() {
    rm -rf "$root"
    mkdir -p "$WORK_DIR"
    DESTDIR=$root cmake --install "$BUILD_DIR" --prefix "$PREFIX" >/dev/null
    diff -u <(expected_paths) <(cd "$root" && find . ! -type d | sed 's|^\.||' | sort) \
        || fail "the installation holds other files than expected (- missing, + unexpected)"
    [ -x "$program" ] || fail "$program is not executable"
    while read -r path; do
        [ -s "$root$PREFIX/$path" ] || fail "$path is empty"
    done <"$INSTALLED_FILES"
}

# desktop-file-validate and appstreamcli accept the installed files, and the
# desktop entry, the icon and the AppStream component share the one id.
check_metadata() {
    local report
    report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
    # Hints are advice only: Education and Science are both main categories.
    ! grep -E ': (error|warning): ' <<<"$report" || fail "desktop-file-validate complains"
    report=$(appstreamcli validate --no-net --no-color "$metainfo" 2>&1) \
        || fail "appstreamcli validate: $report"

    key() { sed -n "s/^$1=//p" "$desktop"; }
    element() { sed -n "s|.*<$1[^>]*>\(.*\)</$1>.*|\1|p" "$metainfo"; }
    expect "desktop entry Icon" "$APP_ID" "$(key Icon)"
    expect "icon file" "$APP_ID.svg" "$(basename "$icon")"
    expect "AppStream id" "$APP_ID" "$(element id)"
    expect "AppStream launchable" "$(basename "$desktop")" "$(element launchable)"
    expect "AppStream binary" "$(key Exec)" "$(element binary)"
    expect "desktop entry Exec" "$(basename "$program")" "$(key Exec)"
    expect "desktop entry Categories" "Education;Science;Physics;" "$(key Categories)"
    for keyword in sandpile avalanche "self-organised criticality"; do
        [[ ";$(key Keywords)" == *";$keyword;"* ]] || fail "desktop entry lacks the keyword $keyword"
    done
    grep -q '<svg' "$icon" || fail "$icon is not an SVG picture"
}

# The manual page renders without a warning and tells of every control,
# every colour, the options and the files.
check_manual() {
    local warnings text page
    for page in "$manual" "$statsManual"; do
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man warns of $(basename "$page"): $warnings"
    done
    # One long line per paragraph, unhyphenated, so phrases can be searched.
    text=$(MANWIDTH=80 MANROFFOPT=-rHY=0 man -l "$manual" 2>/dev/null | tr -s ' \n' '  ')
    for phrase in "sandpile - simulator" Display Re-initialise Burn Mode "run free" sprinkle \
        "fractalsand 0" "fractalsand 1" "fractalsand 2" Speed fast slow pause Quit \
        "black a site with height 0" "dark grey a site with height 1" \
        "light grey a site with height 2" "white a site with height 3" \
        "red a site about to topple" "yellow a site burnt" \
        "reads no options of its own" "writes no files"; do
        [[ $text == *"$phrase"* ]] || fail "the manual page does not say \"$phrase\""
    done
}

# wait_for_exit PID SECONDS: the program's exit status, or fails if it runs on.
wait_for_exit() {
    local i
    for ((i = 0; i < $2 * 10; ++i)); do
        kill -0 "$1" 2>/dev/null || { wait "$1" && return 0 || return $?; }
        sleep 0.1
    done
    fail "the program is still running after $2 s"
}

# Whatever check_program started is stopped when the script ends.
program_pid=
server_pid=
stop_started() {
    for started in $program_pid $server_pid; do
        kill "$started" 2>/dev/null || true
    done
}
trap stop_started EXIT

# The installed program starts offscreen; in an X server of its own it shows
# its window with its icon, and its Quit button ends it with status 0.
check_program() {
    local status display window class i

    QT_QPA_PLATFORM=offscreen "$program" &
    program_pid=$!
    sleep 2
    kill -0 "$program_pid" 2>/dev/null \
        || { wait "$program_pid" || status=$?; fail "offscreen, the program ended at once (status ${status:-0})"; }
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null || true
    program_pid=

    mkdir -p "$WORK_DIR"
    # Made empty here, not by the server's redirection, which the loop
    # below could outrun.
    : >"$WORK_DIR/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK_DIR/display" >/dev/null 2>&1 &
    server_pid=$!
    for ((i = 0; i < 100; ++i)); do
        display=$(cat "$WORK_DIR/display")
        [ -n "$display" ] && break
        sleep 0.1
    done
    [ -n "$display" ] || fail "Xvfb did not start"
    export DISPLAY=:$display

    QT_QPA_PLATFORM=xcb "$program" &
    program_pid=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$WINDOW_TITLE\$" | head -n 1) \
        || fail "the program's window did not appear"
    # The icon is set before the window shows; allow the server a moment.
    for ((i = 0; i < 100; ++i)); do
        [[ $(xprop -id "$window" _NET_WM_ICON) == "_NET_WM_ICON(CARDINAL) = "*"Icon (16 x 16)"* ]] && break
        sleep 0.1
    done
    [[ $(xprop -id "$window" _NET_WM_ICON) == "_NET_WM_ICON(CARDINAL) = "*"Icon (16 x 16)"* ]] \
        || fail "the window has no icon"
    # Desktop shells on X11 match a window to its desktop entry by its class.
    class=$(xprop -id "$window" WM_CLASS)
    [[ $class == *"\"$(sed -n 's/^StartupWMClass=//p' "$desktop")\""* ]] \
        || fail "$class does not match the desktop entry's StartupWMClass"

    xdotool mousemove --window "$window" 900 622 click 1   # the Quit button
    status=0
    wait_for_exit "$program_pid" 10 || status=$?
    program_pid=
    expect "exit status after Quit" 0 "$status"
}

# `cpack -G DEB` makes sandpile_<version>_<architecture>.deb holding exactly
# the installed files, with the control fields a Debian system needs.
check_package() {
    local out=$WORK_DIR/package arch deb field
    rm -rf "$out"
    mkdir -p "$out"
    (cd "$BUILD_DIR" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 \
        || { cat "$out/cpack.log"; fail "cpack failed"; }
    arch=$(dpkg --print-architecture)
    deb=$out/sandpile_${VERSION}_$arch.deb
    [ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$out")"

    field() { dpkg-deb -f "$deb" "$1"; }
    expect Package sandpile "$(field Package)"
    expect Version "$VERSION" "$(field Version)"
    expect Architecture "$arch" "$(field Architecture)"
    expect Section science "$(field Section)"
    expect Recommends libqt6svg6 "$(field Recommends)"
    [[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: '$(field Maintainer)'"
    [[ $(field Description) == *"Bak-Tang-Wiesenfeld sandpile"* ]] || fail "Description: '$(field Description)'"
    [[ ", $(field Depends)," =~ ,\ libqt6widgets6[\ ,] ]] \
        || fail "Depends names no Qt 6 widgets library: '$(field Depends)'"
    for library in libjs-leaflet libvips42; do   # the zoom folder's viewer and tiles
        [[ ", $(field Depends)," =~ ,\ $library[\ ,] ]] || fail "Depends names no $library: '$(field Depends)'"
    done

    diff -u <(expected_paths) \
        <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\.||' | sort) \
        || fail "the package holds other files than expected (- missing, + unexpected)"
}

"check_$1"
