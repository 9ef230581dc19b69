#!/bin/bash
# The layer check, held to account: each row adds one bad line to a copy of the tree and
# expects the check to fail, naming that file. Usage: layers-test.sh source-root
set -uo pipefail
root=$1
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
status=0
# file that gets the line | the line
while IFS='|' read -r file line; do
    rm -rf "${copy:?}"/*
    (cd "$root" && cp -r --parents ARCHITECTURE.md base platform shared app copy assist batch tests \
        bench "$copy")
    mkdir -p "$(dirname "$copy/$file")"
    echo "$line" >>"$copy/$file"
    if output=$(bash "$root/tests/layers.sh" "$copy" 2>&1); then
        echo "not caught: $line in $file" >&2
        status=1
    elif [[ $output != *"$file:"* ]]; then
        echo "caught elsewhere: $line in $file: $output" >&2
        status=1
    fi
done <<'ROWS'
base/Text.cpp|#include "platform/PlatformError.h"
platform/PlatformError.cpp|#include "shared/SharedRoutines.h"
app/report/Guarded.cpp|#include "copy/Main.h"
copy/Main.cpp|#include "app/Form1.h"
copy/Main.cpp|#include "app/report/../Form1.h"
copy/Main.cpp|#include "assist/Help.h"
batch/BatchCommand.cpp|#include "platform/posix/WindowsPath.h"
tests/SaveAsManyTest.cpp|#include "platform/win32/Win32Io.h"
copy/Main.cpp|#include <QString>
copy/Main.cpp|#include <qglobal.h>
batch/BatchCommand.cpp|#include <QString>
copy/Main.cpp|#include "platform/qt/QtPlatform.h"
copy/Main.cpp|#include "Text.h"
copy/Main.cpp|#ifdef _WIN32
tools/Probe.cpp|#include "app/Form1.h"
ROWS
exit $status
