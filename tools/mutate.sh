#!/usr/bin/env bash
# Mutation testing: how many small faults planted in src/ the test suite notices.
#
#   tools/mutate.sh [--tests REV] [--only PATTERN] [--list FILE] [--timeout SECONDS] [--keep]
#
#   --tests REV        run the tests/ of git revision REV (an older suite, say) against today's src/
#   --only PATTERN     only the mutations whose line contains PATTERN (a fixed string)
#   --list FILE        the mutations to plant (default: tools/mutations.txt)
#   --timeout SECONDS  longest run of the suite for one mutation (default: 5 times the clean run, at least 60);
#                      a run that takes longer counts as killed: the mutation made the tool hang
#   --keep             keep the scratch copy (its path is printed) to look at a mutant afterwards
#
# The project (every file git tracks, and untracked ones it does not ignore) is copied once into a scratch
# folder, built there once (Release, tests on), and the clean suite must pass. Then each mutation is planted in
# the copy, the default target rebuilt and ctest run; the file is put back afterwards. The working tree is never
# touched, so src/ may go on changing meanwhile: a mutation whose original text is not found exactly once in its
# file is reported as n/a.
#
# The list has one mutation a line, three fields separated by TABs: the file, the original text and its
# replacement (empty to delete the text). Lines starting with # and empty lines are skipped. Each line of output
# is killed, SURVIVED, n/a or no-build (killed by the compiler: reported apart, not in the score), then the
# mutation.
set -euo pipefail
shopt -u patsub_replacement 2> /dev/null || true  # bash 5.2: '&' in a replacement is the matched text otherwise

usage() {
    sed -n '4,11s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tests_rev=""
only=""
list="$root/tools/mutations.txt"
timeout_seconds=""
keep=false
while (($# > 0)); do
    case $1 in
        --tests) tests_rev=${2:?--tests needs a revision}; shift 2 ;;
        --only) only=${2:?--only needs a pattern}; shift 2 ;;
        --list) list=${2:?--list needs a file}; shift 2 ;;
        --timeout) timeout_seconds=${2:?--timeout needs a number of seconds}; shift 2 ;;
        --keep) keep=true; shift ;;
        -h | --help) usage; exit 0 ;;
        *) echo "mutate: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done

missing=()
for tool in git cmake ctest tar timeout; do
    command -v "$tool" > /dev/null || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
    echo "mutate: missing ${missing[*]}: install them (on Debian: apt-get install git cmake tar coreutils)" >&2
    exit 2
fi
[[ -r $list ]] || { echo "mutate: cannot read the mutation list $list" >&2; exit 2; }
list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")

scratch=$(mktemp -d /tmp/mut-run-XXXXXX)
if $keep; then
    echo "mutate: scratch copy in $scratch"
else
    trap 'rm -rf "$scratch"' EXIT
fi
project=$scratch/project
build=$scratch/build
log=$scratch/log
mkdir -p "$project"

# The copy: what git tracks (as it is in the working tree) and untracked files git does not ignore.
cd "$root"
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [[ -f $file ]] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -C "$project" -xf -
if [[ -n $tests_rev ]]; then
    rm -rf "$project/tests"
    git archive "$tests_rev" tests | tar -C "$project" -xf - ||
        { echo "mutate: no tests/ in revision $tests_rev" >&2; exit 2; }
fi

generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
build_project() { cmake --build "$build" -j 2 < /dev/null > "$log" 2>&1; }
run_suite() {
    timeout --kill-after=10 "$1" ctest --test-dir "$build" -j 2 --stop-on-failure --no-tests=error < /dev/null > "$log" 2>&1
}

echo "mutate: building the unmodified project${tests_rev:+ with the tests of $tests_rev}"
if ! cmake -S "$project" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON > "$log" 2>&1 ||
    ! build_project; then
    cat "$log" >&2
    echo "mutate: the unmodified project does not build (a compiler, GoogleTest: apt-get install g++ libgtest-dev)" >&2
    exit 1
fi
started=$SECONDS
if ! run_suite 1800; then
    cat "$log" >&2
    echo "mutate: the unmodified suite fails: nothing to measure" >&2
    exit 1
fi
clean=$((SECONDS - started))
if [[ -z $timeout_seconds ]]; then
    timeout_seconds=$((5 * clean > 60 ? 5 * clean : 60))
fi
echo "mutate: the clean suite passes in ${clean}s; each mutant gets ${timeout_seconds}s"

# How many times `needle` occurs in `haystack`.
occurrences() {
    local haystack=$1 needle=$2
    local rest=${haystack//"$needle"/}
    echo $(((${#haystack} - ${#rest}) / ${#needle}))
}

killed=0 survived=0 unbuilt=0 unapplicable=0
while IFS= read -r line || [[ -n $line ]]; do
    [[ -z $line || $line == \#* ]] && continue
    [[ -n $only && $line != *"$only"* ]] && continue
    if [[ $line != *$'\t'*$'\t'* ]]; then
        echo "mutate: not FILE<TAB>ORIGINAL<TAB>REPLACEMENT: $line" >&2
        exit 2
    fi
    file=${line%%$'\t'*}
    rest=${line#*$'\t'}
    original=${rest%%$'\t'*}
    replacement=${rest#*$'\t'}
    shown="$file: $original  =>  ${replacement:-(deleted)}"
    target=$project/$file
    if [[ ! -f $target || -z $original ]]; then
        echo "n/a       $shown"
        unapplicable=$((unapplicable + 1))
        continue
    fi
    # Read with a sentinel so that trailing newlines survive the command substitution.
    text=$(cat "$target"; printf x)
    text=${text%x}
    if (($(occurrences "$text" "$original") != 1)); then
        echo "n/a       $shown"
        unapplicable=$((unapplicable + 1))
        continue
    fi
    printf '%s' "${text/"$original"/"$replacement"}" > "$target"
    if ! build_project; then
        verdict=no-build
        unbuilt=$((unbuilt + 1))
    elif run_suite "$timeout_seconds"; then
        verdict=SURVIVED
        survived=$((survived + 1))
    else
        verdict=killed
        killed=$((killed + 1))
    fi
    printf '%s' "$text" > "$target"
    printf '%-9s %s\n' "$verdict" "$shown"
done < "$list"

echo "mutation score: $killed killed of $((killed + survived)) applicable ($survived survived, $unapplicable n/a," \
    "$unbuilt killed by the compiler)"
