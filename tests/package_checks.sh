#!/bin/sh
# What the Debian packages deliver, checked with Debian's own tools; run by ctest.
#   package_checks.sh desktop FILE     desktop-file-validate: no errors, no warnings
#   package_checks.sh metainfo FILE    appstreamcli validate: no errors, no warnings
#   package_checks.sh version VERSION SOURCE_DIR MAN_DIR
#       the manual pages built in MAN_DIR, the AppStream release and the Debian changelog's top
#       entry all give the project version VERSION
#   package_checks.sh deb SOURCE_DIR WORK_DIR VERSION
#       builds the packages as `make package` does (in WORK_DIR/build), checks them with
#       lintian and their dependencies, unpacks kalvosan-cli alone and both together under
#       WORK_DIR and runs the programs from there.
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

# The Debian version of the changelog's top entry.
changelog_version() {
    dpkg-parsechangelog -l "$1/packaging/changelog" -S Version
}

check_version() {
    need dpkg-parsechangelog zcat
    version=$1 src=$2 man_dir=$3
    for page in kalvosan kalvosan-cli; do
        [ -f "$man_dir/$page.1.gz" ] || { echo "SKIP: $man_dir/$page.1.gz not built (scdoc missing)"; exit $SKIP; }
        header=$(zcat "$man_dir/$page.1.gz" | grep '^\.TH')
        case $header in
        *"\"Kalvosan $version\""*) ;;
        *) fail "the manual page $page has the header $header, not version $version" ;;
        esac
    done
    release=$(grep -o '<release [^>]*version="[^"]*"' "$src/res/example.brisgal.Kalvosan.metainfo.xml" |
        head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')
    [ "$release" = "$version" ] || fail "the AppStream metadata's latest release is \"$release\", not $version"
    debian=$(changelog_version "$src")
    [ "${debian%-*}" = "$version" ] || fail "the Debian changelog's top entry is $debian, not $version-N"
    echo "manual pages, AppStream release and Debian changelog ($debian) give version $version"
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

# kalvosan-cli from the root it was unpacked into, and its manual page there.
check_cli() {
    out=$("$1/usr/bin/kalvosan-cli" --version) || fail "kalvosan-cli --version fails"
    [ "$out" = "kalvosan-cli $version" ] ||
        fail "kalvosan-cli --version prints \"$out\", not its version $version"
    check_man_page "$1" kalvosan-cli
    echo "kalvosan-cli runs from its package alone: $out"
}

# `man PAGE` finds the page under ROOT and it shows its synopsis.
check_man_page() {
    MANPATH="$1/usr/share/man" MANWIDTH=80 man "$2" 2>&1 | grep -q "^ *$2 .*\[" ||
        fail "man $2 does not show the page from the package"
}

# The files of a package, directories left out, sorted.
package_files() {
    dpkg-deb -c "$1" | grep -v '^d' | sed 's/^.* \.\//\//; s/ -> .*//' | sort
}

# kalvosan-cli carries the command line and nothing of the window; the two packages share no
# file, or dpkg would refuse to install the second.
check_cli_contents() {
    expected="/usr/bin/kalvosan-cli
/usr/share/bash-completion/completions/kalvosan-cli
/usr/share/doc/kalvosan-cli/changelog.Debian.gz
/usr/share/doc/kalvosan-cli/copyright
/usr/share/lintian/overrides/kalvosan-cli
/usr/share/man/man1/kalvosan-cli.1.gz"
    got=$(package_files "$cli_deb")
    [ "$got" = "$expected" ] || fail "kalvosan-cli holds $(echo $got), not $(echo $expected)"
    shared=$(package_files "$window_deb" | comm -12 - "$work/cli.files")
    [ -z "$shared" ] || fail "both packages hold $shared"
}

check_window_contents() {
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
    for binary in usr/bin/kalvosan usr/bin/kalvosan-cli usr/lib/kalvosan/libkalvosan.so; do
        case $(file -b "$root/$binary") in
        *"not stripped"*) fail "/$binary is not stripped" ;;
        esac
    done
}

# field DEB NAME: a control field of a package, on one line.
field() {
    dpkg-deb -f "$1" "$2" | tr '\n' ' ' | sed 's/ *$//'
}

# has_relation DEB FIELD REGEX: one of the field's comma-separated entries matches REGEX whole.
has_relation() {
    dpkg-deb -f "$1" "$2" | tr ',\n' '\n ' | sed 's/^ *//; s/ *$//' | grep -Eqx "$3"
}

# The window needs Qt's platform plugins to start (Qt's GUI library only recommends them) and
# kalvosan-cli of its own version; printing runs lp, ZMODEM lrzsz. kalvosan-cli needs nothing
# graphical.
check_dependencies() {
    debian=$(changelog_version "$src")
    depends=$(field "$window_deb" Depends)
    has_relation "$window_deb" Depends 'qt6-qpa-plugins( \(.*\))?' ||
        fail "kalvosan does not depend on qt6-qpa-plugins: $depends"
    has_relation "$window_deb" Depends "kalvosan-cli \(= $debian\)" ||
        fail "kalvosan does not depend on kalvosan-cli (= $debian): $depends"
    has_relation "$window_deb" Recommends 'cups-client( \(.*\))?' ||
        fail "kalvosan does not recommend cups-client: $(field "$window_deb" Recommends)"
    has_relation "$cli_deb" Recommends 'lrzsz( \(.*\))?' ||
        fail "kalvosan-cli does not recommend lrzsz (ZMODEM): $(field "$cli_deb" Recommends)"
    cli_depends=$(field "$cli_deb" Depends)
    if printf '%s\n' "$cli_depends" | grep -Eq 'libqt6(gui|widgets|printsupport)|libx11|libxcb|libxkb|libgl|libegl|libopengl|libwayland|qt6-qpa'; then
        fail "kalvosan-cli depends on graphical libraries: $cli_depends"
    fi
    echo "kalvosan: Depends $depends; kalvosan-cli: Depends $cli_depends"
}

check_deb() {
    need cmake cpack ninja dpkg-deb dpkg-parsechangelog lintian scdoc rsvg-convert dpkg-shlibdeps \
        dpkg-buildflags appstreamcli file man comm
    src=$1 work=$2 version=$3
    root=$work/root run=$work/run
    mkdir -p "$work"

    started=$(date +%s)
    "$src/packaging/build-deb.sh" "$work/build" 2 >"$work/build.log" 2>&1 ||
        { tail -n 40 "$work/build.log"; fail "the packages do not build (log: $work/build.log)"; }
    cli_deb=$(ls "$work"/build/kalvosan-cli_*.deb) || fail "the build left no kalvosan-cli_*.deb"
    window_deb=$(ls "$work"/build/kalvosan_*.deb) || fail "the build left no kalvosan_*.deb"
    echo "built $cli_deb and $window_deb in $(($(date +%s) - started)) s"

    for deb in "$cli_deb" "$window_deb"; do
        lintian --fail-on error "$deb" || fail "lintian finds errors in $deb"
    done
    echo "lintian: no errors"
    check_dependencies

    package_files "$cli_deb" >"$work/cli.files"
    check_cli_contents
    rm -rf "$work/root-cli"
    dpkg-deb -x "$cli_deb" "$work/root-cli" || fail "dpkg-deb cannot unpack $cli_deb"
    check_cli "$work/root-cli"

    rm -rf "$root"
    for deb in "$cli_deb" "$window_deb"; do
        dpkg-deb -x "$deb" "$root" || fail "dpkg-deb cannot unpack $deb"
    done
    check_window_contents
    appstreamcli validate-tree --no-net "$root" || fail "the installed AppStream metadata is not valid"
    check_man_page "$root" kalvosan
    check_window
}

mode=${1:-}
[ $# -gt 0 ] && shift
case $mode in
desktop) check_desktop "$@" ;;
metainfo) check_metainfo "$@" ;;
version) check_version "$@" ;;
deb) check_deb "$@" ;;
*) fail "usage: package_checks.sh desktop FILE | metainfo FILE | version VERSION SOURCE_DIR MAN_DIR | deb SOURCE_DIR WORK_DIR VERSION" ;;
esac
