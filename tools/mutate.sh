#!/usr/bin/env bash
# Mutation testing: how many small faults planted in src/ the test suite notices.
#
#   tools/mutate.sh [--sample N] [--seed S] [--with-tables] [--list FILE] [--only PATTERN] [--tests REV]
#                   [--equivalent FILE] [--sanitize] [--timeout SECONDS] [--keep]
#
#   --sample N         plant N mutants drawn at random from those tools/mutants.py generates from src/
#                      (default: all of them, well over a thousand)
#   --seed S           the seed of that draw (default 1): the same seed and code draw the same mutants
#   --with-tables      generate mutants in the element tables too
#   --list FILE        plant the mutations of FILE instead (tools/mutations.txt: the hand-written sample)
#   --only PATTERN     only the mutations whose line contains PATTERN (a fixed string)
#   --tests REV        run the tests/ of git revision REV (an older suite, say) against today's src/
#   --equivalent FILE  the mutants known to change nothing the tool does (default: tools/mutants-equivalent.txt)
#   --sanitize         build with the sanitizers, as CI runs the suite the second time: a mutant that reads or
#                      writes out of bounds is caught even where the output does not show it
#   --timeout SECONDS  longest run of the suite for one mutation (default: 5 times the clean run, at least 60);
#                      a run that takes longer counts as killed: the mutation made the tool hang
#   --keep             keep the scratch copy (its path is printed) to look at a mutant afterwards
#
# The project (every file git tracks, and untracked ones it does not ignore) is copied once into a scratch
# folder, built there once (Release, tests on), and the clean suite must pass. Then each mutation is planted in
# the copy, the default target rebuilt and the suite run, the quick tests first (ctest -L unit, then
# end-to-end, then the rest), stopping at the first failure; the file is put back afterwards. All of it runs
# under nice. The working tree is never touched, so src/ may go on changing meanwhile: a mutation whose
# original text is not found exactly once in its file is reported as n/a.
#
# A list has one mutation a line, three fields separated by TABs: the file, the original text and its
# replacement (empty to delete the text); in a field \n stands for a line break, \t for a TAB and \\ for a
# backslash. Lines starting with # and empty lines are skipped. The equivalent mutants are lines of the same
# three fields and a fourth, why the tool behaves the same; they are not planted and not scored. Each line of
# output is killed, SURVIVED, n/a, equivalent or no-build (killed by the compiler: reported apart, not in the
# score), then the mutation.
set -euo pipefail
shopt -u patsub_replacement 2> /dev/null || true  # bash 5.2: '&' in a replacement is the matched text otherwise

usage() {
    sed -n '4,21s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tests_rev=""
only=""
list=""
sample=""
seed=1
with_tables=()
equivalent="$root/tools/mutants-equivalent.txt"
sanitize=OFF
timeout_seconds=""
keep=false
while (($# > 0)); do
    case $1 in
        --tests) tests_rev=${2:?--tests needs a revision}; shift 2 ;;
        --only) only=${2:?--only needs a pattern}; shift 2 ;;
        --list) list=${2:?--list needs a file}; shift 2 ;;
        --sample) sample=${2:?--sample needs a number}; shift 2 ;;
        --seed) seed=${2:?--seed needs a number}; shift 2 ;;
        --with-tables) with_tables=(--with-tables); shift ;;
        --equivalent) equivalent=${2:?--equivalent needs a file}; shift 2 ;;
        --timeout) timeout_seconds=${2:?--timeout needs a number of seconds}; shift 2 ;;
        --sanitize) sanitize=ON; shift ;;
        --keep) keep=true; shift ;;
        -h | --help) usage; exit 0 ;;
        *) echo "mutate: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
done

missing=()
for tool in git cmake ctest tar timeout nice python3; do
    command -v "$tool" > /dev/null || missing+=("$tool")
done
if ((${#missing[@]} > 0)); then
    echo "mutate: missing ${missing[*]}: install them (on Debian: apt-get install git cmake tar coreutils python3)" >&2
    exit 2
fi
if [[ -n $list ]]; then
    [[ -r $list ]] || { echo "mutate: cannot read the mutation list $list" >&2; exit 2; }
    list=$(cd "$(dirname "$list")" && pwd)/$(basename "$list")
fi

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

if [[ -z $list ]]; then
    list=$scratch/generated.txt
    python3 "$project/tools/mutants.py" "$project" ${sample:+--sample "$sample"} --seed "$seed" \
        "${with_tables[@]}" > "$list" || exit 2
    echo "mutate: $(head -n 1 "$list" | sed 's/^# //')"
fi

generator=()
command -v ninja > /dev/null && generator=(-G Ninja)
build_project() { nice -n 10 cmake --build "$build" -j 2 < /dev/null > "$log" 2>&1; }
# The suite in three runs, quickest first, within one time limit; fails at the first failing test.
run_suite() {
    local limit=$(($1 + SECONDS)) selection
    for selection in "-L ^unit$" "-L ^end-to-end$" "-LE ^(unit|end-to-end)$"; do
        ((SECONDS < limit)) || return 1
        # shellcheck disable=SC2086 # the selection is two words
        timeout --kill-after=10 $((limit - SECONDS)) nice -n 10 ctest --test-dir "$build" -j 2 $selection \
            --stop-on-failure --no-tests=ignore < /dev/null > "$log" 2>&1 || return 1
    done
}
# A field of a list with its escapes replaced: \n a line break, \t a TAB, \\ a backslash.
unescape() {
    local text=${1//\\\\/$'\x01'}
    text=${text//\\n/$'\n'}
    text=${text//\\t/$'\t'}
    unescaped=${text//$'\x01'/\\}
}
# The mutants known to be equivalent, by their three fields; the fourth says why.
declare -A reasons=()
if [[ -r $equivalent ]]; then
    while IFS= read -r line || [[ -n $line ]]; do
        [[ -z $line || $line == \#* || $line != *$'\t'*$'\t'*$'\t'* ]] && continue
        reasons[${line%$'\t'*}]=${line##*$'\t'}
    done < "$equivalent"
fi

echo "mutate: building the unmodified project${tests_rev:+ with the tests of $tests_rev}"
if ! cmake -S "$project" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON \
    -DQUORVEL_SANITIZE=$sanitize > "$log" 2>&1 ||
    ! build_project; then
    cat "$log" >&2
    echo "mutate: the unmodified project does not build (a compiler, GoogleTest: apt-get install g++ libgtest-dev)" >&2
    exit 1
fi
started=$SECONDS
if ! ctest --test-dir "$build" -N 2> /dev/null | grep -q '^Total Tests: [1-9]' || ! run_suite 1800; then
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

killed=0 survived=0 unbuilt=0 unapplicable=0 equivalents=0 planted=0
started=$SECONDS
while IFS= read -r line || [[ -n $line ]]; do
    [[ -z $line || $line == \#* ]] && continue
    [[ -n $only && $line != *"$only"* ]] && continue
    if [[ $line != *$'\t'*$'\t'* ]]; then
        echo "mutate: not FILE<TAB>ORIGINAL<TAB>REPLACEMENT: $line" >&2
        exit 2
    fi
    unescape "${line%%$'\t'*}"
    file=$unescaped
    rest=${line#*$'\t'}
    unescape "${rest%%$'\t'*}"
    original=$unescaped
    unescape "${rest#*$'\t'}"
    replacement=$unescaped
    shown="${line%%$'\t'*}: ${rest%%$'\t'*}  =>  ${rest#*$'\t'}"
    [[ -n ${rest#*$'\t'} ]] || shown+="(deleted)"
    if [[ -n ${reasons[$line]+set} ]]; then
        echo "equivalent $shown  (${reasons[$line]})"
        equivalents=$((equivalents + 1))
        continue
    fi
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
    planted=$((planted + 1))
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

if ((planted > 0)); then
    echo "mutate: $planted mutants planted in $((SECONDS - started))s, $(((SECONDS - started) / planted))s each"
fi
echo "mutation score: $killed killed of $((killed + survived)) applicable ($survived survived, $unapplicable n/a," \
    "$unbuilt killed by the compiler, $equivalents equivalent)"
