#!/usr/bin/env bash
# Builds Quorvel for the machines and C++ libraries it must work on besides the
# host (the Debian package is Architecture: any), and runs its tests there:
#
#   tools/cross-check.sh TARGET...        TARGET: i686 s390x libcxx windows all
#
#   i686     32-bit x86 Linux, where long, size_t and off_t are 32 bits: the
#            whole test suite under qemu-i386
#   s390x    64-bit big-endian Linux: the whole test suite under qemu-s390x
#   libcxx   clang++ with LLVM's libc++, the C++ library of macOS: the whole
#            test suite
#   windows  64-bit Windows (MinGW-w64) under Wine, where long is 32 bits: the
#            sample tests (ctest -L samples), in a Wine prefix of its own
#
# ctest runs every test program, and the tests run the tool, through the
# toolchain's emulator (CMAKE_CROSSCOMPILING_EMULATOR), never directly. Then,
# on every target, what the tests do not express, with the tool statically
# linked as shipped:
#   - two sparse files whose Tracks lies past 4 GiB (tools/write-check-file.py)
#     list exactly as with the host build, 64-bit Track Uid included;
#   - on Windows: a Track Name holding ESC and BEL comes through as stored on
#     a pipe and escaped as \x1B and \x07 on a console, and a file named in
#     other scripts than Latin opens.
#
# Build directories, kept between runs: build-host (the reference build),
# build-TARGET, and build-gtest-TARGET (GoogleTest from Debian's sources,
# built with the target's compiler and C++ library). Prints one PASS or FAIL
# line per check, names what is missing when a tool is, and exits non-zero
# on any failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

usage() { echo "usage: $0 TARGET...   (TARGET: i686 s390x libcxx windows all)" >&2 && exit 2; }
targets=()
for arg in "$@"; do
    case $arg in
        all) targets+=(i686 s390x libcxx windows) ;;
        i686 | s390x | libcxx | windows) targets+=("$arg") ;;
        *) usage ;;
    esac
done
((${#targets[@]} > 0)) || usage

jobs=$(nproc)
work=$(mktemp -d)  # the sparse files, the Wine prefix, outputs
wine_prefix=$work/wine
cleanup() {
    # The Wine server of this script's own prefix lingers a few seconds after
    # the last program; end it before its prefix goes.
    if [[ -d $wine_prefix ]] && command -v wineserver > /dev/null; then
        WINEPREFIX=$wine_prefix wineserver -k 2> /dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

passes=0 failures=0
pass() { echo "PASS: $*" && passes=$((passes + 1)); }
fail() { echo "FAIL: $*" && failures=$((failures + 1)); }

# need TARGET COMMAND PACKAGE [COMMAND PACKAGE]...: FAIL naming each missing one.
need() {
    local target=$1 missing=()
    shift
    while (($# > 0)); do
        command -v "$1" > /dev/null || missing+=("$1 (Debian package $2)")
        shift 2
    done
    if ((${#missing[@]} > 0)); then
        fail "$target: cannot run, missing: ${missing[*]}"
        return 1
    fi
}

# build LABEL DIR CMAKE_ARGUMENT...: configures with warnings as errors and
# builds the tool alone, so that its checks run even when the suite does not
# build; the log is shown only when something fails.
build() {
    local label=$1 dir=$2
    shift 2
    mkdir -p "$dir"
    local log=$dir/cross-check.log
    if cmake -S "$root" -B "$dir" -DQUORVEL_WERROR=ON "$@" > "$log" 2>&1 &&
        cmake --build "$dir" -j "$jobs" --target quorvel >> "$log" 2>&1; then
        pass "$label: the tool built"
        return 0
    fi
    tail -n 60 "$log"
    fail "$label: the tool did not build (whole log: $log)"
    return 1
}

# googletest NAME TOOLCHAIN: GoogleTest from Debian's sources, built once with
# the toolchain into build-gtest-NAME/prefix, for a build of the suite whose
# compiler or C++ library differs from the host's libgtest-dev.
googletest() {
    local dir=$root/build-gtest-$1 toolchain=$2
    [[ -f $dir/prefix/lib/cmake/GTest/GTestConfig.cmake ]] && return 0
    if [[ ! -f /usr/src/googletest/CMakeLists.txt ]]; then
        fail "$1: cannot build GoogleTest, missing /usr/src/googletest (Debian package googletest)"
        return 1
    fi
    mkdir -p "$dir"
    if cmake -S /usr/src/googletest -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$dir/prefix" -DCMAKE_INSTALL_LIBDIR=lib \
        > "$dir/build.log" 2>&1 &&
        cmake --build "$dir/build" -j "$jobs" >> "$dir/build.log" 2>&1 &&
        cmake --install "$dir/build" >> "$dir/build.log" 2>&1; then
        return 0
    fi
    tail -n 40 "$dir/build.log"
    fail "$1: GoogleTest build failed (whole log: $dir/build.log)"
    return 1
}

# The suite must be linked against the GoogleTest built for it: one found on
# the host would not link, or would mix C++ libraries.
uses_gtest_from() {
    local label=$1 dir=$2 prefix=$3 found
    found=$(sed -n 's/^GTest_DIR:[A-Z]*=//p' "$dir/CMakeCache.txt")
    if [[ $found != "$prefix/lib/cmake/GTest" ]]; then
        fail "$label: the suite found GoogleTest in '$found', not in $prefix"
        return 1
    fi
}

# suite LABEL DIR [CTEST_ARGUMENT...]: builds the tests, and ctest runs them
# (the command in ctest_command, which can set its environment), each through
# the toolchain's emulator; the count of tests run is in the PASS line.
ctest_command=(ctest)
suite() {
    local label=$1 dir=$2
    shift 2
    local log=$dir/cross-check.log
    if ! cmake --build "$dir" -j "$jobs" >> "$log" 2>&1; then
        grep -m 8 -e ': error' -e 'required from here' "$log" || tail -n 40 "$log"
        fail "$label: the tests did not build (whole log: $log)"
    elif "${ctest_command[@]}" --test-dir "$dir" --output-on-failure -j "$jobs" "$@" | tee "$work/ctest.log"; then
        pass "$label: $(grep -o '[0-9]*% tests passed.*' "$work/ctest.log")"
    else
        fail "$label: tests: $(grep -o '[0-9]*% tests passed.*' "$work/ctest.log")"
    fi
}

# ---- the checks; each takes a label and the command that runs the build

# The sparse files and the host build's listings of them, made on first use;
# large_files_ready then holds the status for the next calls.
large_files_ready=
make_large_files() {
    [[ -n $large_files_ready ]] && return "$large_files_ready"
    large_files_ready=1
    build host build-host -DBUILD_TESTING=OFF || return 1
    local kind blocks
    for kind in large-seekhead large-walk; do
        if ! python3 tools/write-check-file.py "$kind" "$work/$kind.mkv"; then
            fail "tools/write-check-file.py $kind failed"
            return 1
        fi
        # A file system without holes would write the whole 4 GiB.
        blocks=$(stat -c %b "$work/$kind.mkv")
        if ((blocks > 2048)); then
            fail "the file system under $work stores holes in full; point TMPDIR to one that keeps files sparse"
            return 1
        fi
        if ! build-host/quorvel "$work/$kind.mkv" > "$work/$kind.host"; then
            fail "host: $kind past 4 GiB: the reference build failed on it"
            return 1
        fi
    done
    large_files_ready=0
}

check_large() {
    local label=$1 kind status
    shift
    make_large_files || return 0
    for kind in large-seekhead large-walk; do
        status=0
        timeout 60 "$@" "$work/$kind.mkv" > "$work/out" 2> "$work/err" || status=$?
        if ((status != 0)); then
            fail "$label: $kind past 4 GiB: exit status $status"
        elif ! cmp -s "$work/out" "$work/$kind.host"; then
            fail "$label: $kind past 4 GiB: the listing differs from the host build's"
            diff "$work/$kind.host" "$work/out" || true
        elif ! grep -qxF $'\t\t\tTrack Uid 18364758544493064720' "$work/out"; then
            fail "$label: $kind past 4 GiB: no Tracks listed, the host build's listing has none either"
            cat "$work/out"
        else
            pass "$label: $kind: Tracks past 4 GiB listed as by the host build"
        fi
    done
}

check_terminal() {
    local label=$1 status=0
    shift
    local file=$work/terminal-text.mkv
    [[ -f $file ]] || python3 tools/write-check-file.py terminal-text "$file"
    timeout 60 "$@" "$file" > "$work/out" 2> "$work/err" || status=$?
    if ((status == 0)) && grep -qF $'Name A\e[31mRED\aB' "$work/out"; then
        pass "$label: on a pipe, stored text comes through byte for byte"
    else
        fail "$label: on a pipe, the Track Name is not as stored (exit status $status)"
        od -c "$work/out" | tail -n 12
    fi
    status=0
    python3 tools/run-on-terminal.py 60 "$@" "$file" > "$work/terminal" || status=$?
    # Wine's console draws what a program writes: it expands TABs, ends lines
    # with CR CR LF and adds its own cursor and erase sequences (ESC [ ? 25 l,
    # ESC [ K). So: look for the escaped text once those are dropped, and make
    # sure the stored ESC [ 31 m and BEL did not reach the terminal.
    # (Process substitution, not a pipe: grep -q stops reading at the first
    # match, and a SIGPIPE to sed would fail the pipeline under pipefail.)
    if ((status == 0)) &&
        grep -qF 'Name A\x1B[31mRED\x07B' < <(sed -e $'s/\e\\[[0-9;?]*[A-Za-z]//g' -e $'s/\r//g' "$work/terminal") &&
        ! grep -qF -e $'\e[31m' -e $'\a' "$work/terminal"; then
        pass "$label: on a terminal, ESC and BEL in stored text are shown as \\x1B and \\x07"
    else
        fail "$label: on a terminal, stored ESC and BEL are not escaped (exit status $status); what the terminal got:"
        od -c "$work/terminal" | tail -n 20
    fi
}

# ---- the targets ----------------------------------------------------------------

# linux TARGET EMULATOR: a Linux target under qemu-user, the emulator its
# toolchain file names. The toolchain files look for packages only under their
# root paths (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY), so GoogleTest's prefix
# is added to CMAKE_FIND_ROOT_PATH: on CMAKE_PREFIX_PATH it would be looked
# for under the cross sysroot, and not found.
linux() {
    local target=$1 emulator=$2 toolchain=$root/cmake/$1-linux-gnu.cmake gtest=$root/build-gtest-$1/prefix
    need "$target" "$target-linux-gnu-g++" "g++-$target-linux-gnu" "$emulator" qemu-user python3 python3 || return 0
    googletest "$target" "$toolchain" || return 0
    build "$target" "build-$target" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_FIND_ROOT_PATH="$gtest" || return 0
    uses_gtest_from "$target" "build-$target" "$gtest" && suite "$target" "build-$target"
    check_large "$target" "$emulator" "build-$target/quorvel"
}
target_i686() { linux i686 qemu-i386; }
target_s390x() { linux s390x qemu-s390x; }

target_libcxx() {
    need libcxx clang++ clang python3 python3 || return 0
    if ! echo '#include <string>
int main() { return static_cast<int>(std::string("x").size()) - 1; }' |
        clang++ -stdlib=libc++ -x c++ - -o "$work/libcxx-probe" > "$work/libcxx-probe.log" 2>&1; then
        cat "$work/libcxx-probe.log"
        fail "libcxx: cannot run, clang++ -stdlib=libc++ builds no program (Debian packages libc++-dev libc++abi-dev)"
        return 0
    fi
    local toolchain=$root/cmake/clang-libcxx.cmake gtest=$root/build-gtest-libcxx/prefix
    googletest libcxx "$toolchain" || return 0
    build libcxx build-libcxx -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$gtest" || return 0
    # Process substitution, not a pipe, for the same reason as in check_terminal.
    if ! grep -q 'std::__1::' < <(nm -C build-libcxx/quorvel); then
        fail "libcxx: build-libcxx/quorvel holds no libc++ code"
    fi
    uses_gtest_from libcxx build-libcxx "$gtest" && suite libcxx build-libcxx
    check_large libcxx build-libcxx/quorvel
}

target_windows() {
    need windows x86_64-w64-mingw32-g++ g++-mingw-w64-x86-64 wine wine python3 python3 || return 0
    # The sample tests alone: the GoogleTest suite needs POSIX (fork,
    # pseudo-terminals).
    build windows build-mingw -DCMAKE_TOOLCHAIN_FILE="$root/cmake/x86_64-w64-mingw32.cmake" || return 0
    # A prefix of its own, quiet, without the Mono and Gecko installers it
    # would offer (nothing here needs .NET or HTML), and no window: no display.
    # The locale is UTF-8 whatever the caller's: Wine turns the Unix command
    # line and file names into UTF-16 through it, and would mangle a name in
    # other scripts under C or POSIX.
    local wine=(env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$wine_prefix" WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml=" LC_ALL=C.UTF-8)
    local started=$SECONDS
    if ! "${wine[@]}" wineboot -i > "$work/wineboot.log" 2>&1; then
        cat "$work/wineboot.log"
        fail "windows: wineboot -i could not make a Wine prefix"
        return 0
    fi
    echo "windows: Wine prefix made in $((SECONDS - started)) s"
    local exe=$root/build-mingw/quorvel.exe
    ctest_command=("${wine[@]}" ctest)
    suite windows build-mingw -L samples
    ctest_command=(ctest)
    check_large windows "${wine[@]}" wine "$exe"
    check_terminal windows "${wine[@]}" wine "$exe"

    # A name in Latin with diacritics and in Japanese, given as it is: it
    # reaches the tool only through the wide command line and opens only
    # through a wide-character path.
    local dir=$work/names name="Grüße é 日本.webm" status=0
    mkdir -p "$dir"
    cp data/ffmpeg_vp9_opus.webm "$dir/$name"
    (cd "$dir" && timeout 60 "${wine[@]}" wine "$exe" "$name") > "$work/out" 2> "$work/err" || status=$?
    if ((status == 0)) && cmp -s "$work/out" data/expected/ffmpeg_vp9_opus.webm.txt; then
        pass "windows: a file named '$name' opens and lists as its sample"
    else
        fail "windows: a file named '$name': exit status $status, listing:"
        head -n 5 "$work/out"
    fi
}

for target in "${targets[@]}"; do
    echo "== cross check: $target"
    started=$SECONDS
    "target_$target"
    echo "== cross check: $target took $((SECONDS - started)) s"
done

echo "cross-check: $passes passed, $failures failed"
((failures == 0)) || exit 1
