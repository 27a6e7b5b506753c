#!/bin/sh
# What the Debian package delivers, checked with Debian's own tools; run by ctest.
#   package_checks.sh desktop FILE     desktop-file-validate: no errors, no warnings
#   package_checks.sh metainfo FILE    appstreamcli validate: no errors, no warnings
#   package_checks.sh deb SOURCE_DIR WORK_DIR VERSION HAS_CLI
#       builds the package as `make package` does (in WORK_DIR/build), checks it with lintian,
#       unpacks it into WORK_DIR/root and runs the programs from there. HAS_CLI is 1 when the
#       tree builds kalvosan-cli.
# A check whose tool is missing is skipped (exit 77) and says which tool.
set -u
SKIP=77

need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 ||
            { echo "SKIP: $tool is not installed (make deps installs it)"; exit $SKIP; }
    done
}

fail() {
    echo "FAIL: $*"
    exit 1
}

check_desktop() {
    need desktop-file-validate
    out=$(desktop-file-validate "$1" 2>&1)
    rc=$?
    [ -n "$out" ] && printf '%s\n' "$out"
    [ $rc -eq 0 ] || fail "desktop-file-validate rejects $1"
    case $out in *error:* | *warning:*) fail "desktop-file-validate complains about $1" ;; esac
    echo "desktop entry valid"
}

check_metainfo() {
    need appstreamcli
    # Fails on errors and warnings; the info and pedantic notes are printed.
    appstreamcli validate --no-net --pedantic "$1" || fail "appstreamcli rejects $1"
}

# wait_exit PID SECONDS: waits for the program to end and leaves its exit status in $status;
# a program still running then is killed and the check fails.
wait_exit() {
    i=0
    while kill -0 "$1" 2>/dev/null && [ $i -lt $(($2 * 10)) ]; do
        sleep 0.1
        i=$((i + 1))
    done
    if kill -0 "$1" 2>/dev/null; then
        kill -KILL "$1"
        fail "kalvosan still runs $2 s later; its output: $(cat "$run/window.log")"
    fi
    wait "$1"
    status=$?
}

# Starts the installed window program offscreen, with a home, settings and current directory
# of its own; its process id is left in $pid.
start_window() {
    (cd "$run/cwd" && exec env HOME="$run/home" XDG_CONFIG_HOME="$run/home/.config" \
        XDG_RUNTIME_DIR="$run/runtime" QT_QPA_PLATFORM=offscreen KALVOSAN_NONINTERACTIVE=1 \
        "$root/usr/bin/kalvosan") >"$run/window.log" 2>&1 &
    pid=$!
}

check_window() {
    rm -rf "$run"
    mkdir -p "$run/home" "$run/cwd" "$run/runtime"
    chmod 700 "$run/runtime"

    # Without its library the program says so and ends: the message the next run must not show.
    mv "$root/usr/lib/kalvosan" "$root/usr/lib/kalvosan.away"
    start_window
    wait_exit $pid 20
    mv "$root/usr/lib/kalvosan.away" "$root/usr/lib/kalvosan"
    [ $status -eq 1 ] && grep -q "Could not find" "$run/window.log" ||
        fail "kalvosan without its library: exit status $status, output: $(cat "$run/window.log")"

    start_window
    sleep 2
    kill -0 $pid 2>/dev/null ||
        fail "kalvosan ended at start; its output: $(cat "$run/window.log")"
    ! grep -q "Could not find" "$run/window.log" ||
        fail "kalvosan does not find its library: $(cat "$run/window.log")"
    kill -TERM $pid
    wait_exit $pid 20
    [ $status -eq 0 ] || fail "kalvosan ends with status $status on SIGTERM: $(cat "$run/window.log")"
    # SIGTERM closes the window as Exit does, which saves the settings.
    [ -f "$run/home/.config/Brisgal/Kalvosan.conf" ] || fail "kalvosan saved no settings on SIGTERM"
    echo "kalvosan starts from the package, finds its library and ends cleanly on SIGTERM"
}

check_cli() {
    out=$("$root/usr/bin/kalvosan-cli" --version) || fail "kalvosan-cli --version fails"
    first=$(printf '%s\n' "$out" | head -n 1)
    case " $first " in
    *kalvosan-cli*[!0-9.]"$version"[!0-9.]*) ;;
    *) fail "kalvosan-cli --version prints \"$first\", not its version $version" ;;
    esac
    echo "kalvosan-cli --version: $first"
}

# `man PAGE` finds the page in the package and it shows its synopsis.
check_man_page() {
    MANPATH="$root/usr/share/man" MANWIDTH=80 man "$1" 2>&1 | grep -q "^ *$1 .*\[" ||
        fail "man $1 does not show the page from the package"
}

check_contents() {
    for f in usr/bin/kalvosan usr/lib/kalvosan/libkalvosan.so usr/share/man/man1/kalvosan.1.gz \
        usr/share/applications/example.brisgal.Kalvosan.desktop \
        usr/share/metainfo/example.brisgal.Kalvosan.metainfo.xml \
        usr/share/icons/hicolor/scalable/apps/kalvosan.svg \
        usr/share/doc/kalvosan/copyright usr/share/doc/kalvosan/changelog.Debian.gz; do
        [ -f "$root/$f" ] || fail "the package lacks /$f"
    done
    for size in 16 22 24 32 48 64 128 256; do
        icon=usr/share/icons/hicolor/${size}x$size/apps/kalvosan.png
        case $(file -b "$root/$icon") in
        "PNG image data, $size x $size,"*) ;;
        *) fail "/$icon is not a $size x $size PNG" ;;
        esac
    done
    for binary in usr/bin/kalvosan usr/lib/kalvosan/libkalvosan.so; do
        case $(file -b "$root/$binary") in
        *"not stripped"*) fail "/$binary is not stripped" ;;
        esac
    done
}

check_deb() {
    need cmake cpack ninja dpkg-deb lintian scdoc rsvg-convert dpkg-shlibdeps dpkg-buildflags \
        appstreamcli file man
    src=$1 work=$2 version=$3 has_cli=$4
    root=$work/root run=$work/run
    mkdir -p "$work"

    started=$(date +%s)
    "$src/packaging/build-deb.sh" "$work/build" 2 >"$work/build.log" 2>&1 ||
        { tail -n 40 "$work/build.log"; fail "the package does not build (log: $work/build.log)"; }
    deb=$(tail -n 1 "$work/build.log")
    echo "built $deb in $(($(date +%s) - started)) s"

    lintian --fail-on error "$deb" || fail "lintian finds errors in $deb"
    echo "lintian: no errors"

    rm -rf "$root"
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb cannot unpack $deb"
    check_contents
    appstreamcli validate-tree --no-net "$root" || fail "the installed AppStream metadata is not valid"
    check_man_page kalvosan
    check_window

    if [ "$has_cli" = 1 ]; then
        [ -x "$root/usr/bin/kalvosan-cli" ] || fail "the package lacks /usr/bin/kalvosan-cli"
        [ -f "$root/usr/share/bash-completion/completions/kalvosan-cli" ] ||
            fail "the package lacks the bash completion of kalvosan-cli"
        check_cli
        check_man_page kalvosan-cli
    else
        echo "NOTE: this tree builds no kalvosan-cli (no kalvosan_cli target), so the package has none"
    fi
}

mode=${1:-}
[ $# -gt 0 ] && shift
case $mode in
desktop) check_desktop "$@" ;;
metainfo) check_metainfo "$@" ;;
deb) check_deb "$@" ;;
*) fail "usage: package_checks.sh desktop FILE | metainfo FILE | deb SOURCE_DIR WORK_DIR VERSION HAS_CLI" ;;
esac
