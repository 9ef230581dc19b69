#!/usr/bin/env bash
# Installs what is missing, builds the release with warnings as errors and runs every test (the
# window's offscreen, the installed program under Xvfb), the permission tests again as an
# unprivileged user, the core tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, and makes the Debian package and checks it with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh test

cmake -S . -B build/test -G Ninja -DQUORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Release
cmake --build build/test
ctest --test-dir build/test --output-on-failure

if [ "$(id -u)" = 0 ]; then
    # Permission rules must hold without root's privileges too.
    unprivileged=$(mktemp -d)
    trap 'rm -rf "$unprivileged"' EXIT
    tests=(testCopyToTarget testPosixCopy testSaveAsMany testBatchCommand)
    install -m 0755 "${tests[@]/#/build/test/tests/}" "$unprivileged"
    chmod 0755 "$unprivileged"
    for test in "${tests[@]}"; do
        (cd / && setpriv --reuid=65534 --regid=65534 --clear-groups "$unprivileged/$test" --gtest_brief=1)
    done
fi

cmake -S . -B build/sanitize -G Ninja -DQUORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Debug \
    -DQUORVANE_BENCH=OFF -DQUORVANE_GUI=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake --build build/sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure

bash scripts/package.sh
