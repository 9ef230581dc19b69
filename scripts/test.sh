#!/usr/bin/env bash
# Installs what is missing, builds the release with its tests and warnings as errors and runs
# every test (the window's offscreen, the installed program under Xvfb), as root the permission
# tests again as an unprivileged user, the core tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, and makes the Debian packages (a build of their own) and checks
# them with lintian; the shell scripts pass shellcheck. Ends by naming the checks that were
# skipped, and why.
# shellcheck source=scripts/common.sh
source "$(dirname "$0")/common.sh"

install_deps test
shellcheck --severity=warning scripts/*.sh tests/*.sh .ci/run
configure_release
# Nothing is left in /tmp: the socket folder Xvfb makes where no X server ran before is
# removed at the end.
own_runtime_dir
leftovers=()
x11=
[ -e /tmp/.X11-unix ] || x11=/tmp/.X11-unix
trap 'rm -rf "${leftovers[@]}"; [ -z "$x11" ] || rmdir "$x11" 2>/dev/null || true' EXIT
cmake --build "$release"
# Every test program reports to a folder of its run, read at the end for skipped checks.
reports=$release/test-reports
rm -rf "$reports"
GTEST_OUTPUT=xml:$PWD/$reports/release/ ctest --test-dir "$release" --output-on-failure

if [ "$(id -u)" = 0 ]; then
    # Permission rules must hold without root's privileges too.
    unprivileged=$(mktemp -d)
    leftovers+=("$unprivileged")
    tests=(testCopyToTarget testCopySequence testSaveAsMany testBatchCommand testTemporaryNames)
    install -m 0755 "${tests[@]/#/$release/tests/}" "$unprivileged"
    install -d -o 65534 -g 65534 "$unprivileged/reports"
    chmod 0755 "$unprivileged"
    for test in "${tests[@]}"; do
        (cd / && setpriv --reuid=65534 --regid=65534 --clear-groups "$unprivileged/$test" \
            --gtest_brief=1 --gtest_output="xml:$unprivileged/reports/")
    done
    mv "$unprivileged/reports" "$reports/unprivileged"
fi

check_build build/sanitize
cmake -S . -B build/sanitize -G Ninja -DQUORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
    -DQUORVANE_BENCH=OFF -DQUORVANE_GUI=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake --build build/sanitize
GTEST_OUTPUT=xml:$PWD/$reports/sanitizers/ ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/sanitize --output-on-failure

bash scripts/package.sh

# The checks a run skipped, counted by their reason.
for run in release unprivileged sanitizers; do
    [ -d "$reports/$run" ] || continue
    skipped=$(cat "$reports/$run"/*.xml | grep -o '<skipped message="[^"]*"' |
        sed 's/^[^"]*"[^&]*&#x0A;//; s/"$//; s/&apos;/'"'"'/g; s/&quot;/"/g; s/&lt;/</g;
            s/&gt;/>/g; s/&amp;/\&/g' | sort | uniq -c || true)
    case $run in
    release) where="in the release tests" ;;
    unprivileged) where="as an unprivileged user" ;;
    sanitizers) where="under the sanitizers" ;;
    esac
    if [ -z "$skipped" ]; then
        echo "test.sh: no check skipped $where"
    else
        count=$(awk '{ n += $1 } END { print n }' <<<"$skipped")
        echo "test.sh: $count check$([ "$count" = 1 ] || echo s) skipped $where:"
        sed 's/^ *\([0-9]*\) /    \1 × /' <<<"$skipped"
    fi
done
[ "$(id -u)" = 0 ] || echo "test.sh: not run: the permission tests as another unprivileged" \
    "user (needs root; they ran as $(id -un))"
