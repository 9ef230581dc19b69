#!/bin/bash
# Fails when an #include runs against the layers of ARCHITECTURE.md: from a lower layer to a
# higher one, between two folders of the same height, to a host's own folder from outside the
# platform layer and its tests, or to Qt below the window; every include names its folder from
# the source root. Usage: layers.sh [source-root] [--graph]; --graph also prints the include
# arrows between layers as a Graphviz digraph (dot -Tsvg draws it).
set -euo pipefail
cd "${1:-.}"
graph=${2:-}

# A test of a platform unit is named after it (tests/CopySequenceTest.cpp, platform/CopySequence.cpp).
units=$(find platform -name '*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | tr '\n' ' ')
grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include' \
    base platform shared app copy assist batch tests bench |
    awk -v units=" $units" -v graph="$graph" '
    # The height of a path from the source root and its layer; nothing outside the layers.
    function layer(path) {
        if (path ~ /^base\//) return "0 base"
        if (path ~ /^platform\//) return "1 platform"
        if (path ~ /^shared\//) return "2 shared"
        if (path ~ /^app\/report\//) return "2 report"
        if (path ~ /^copy\//) return "3 copy"
        if (path ~ /^assist\//) return "3 assist"
        if (path ~ /^app\//) return "4 app"
        if (path ~ /^batch\//) return "4 batch"
        if (path ~ /^(tests|bench)\//) return "5 top"
        return ""
    }
    function fail(why) { print where ": " why > "/dev/stderr"; status = 1 }
    {
        split($0, part, ":"); file = part[1]; where = file ":" part[2]
        included = $0; sub(/^[^:]*:[^:]*:[^<"]*[<"]/, "", included); sub(/[>"].*/, "", included)
        split(layer(file), from, " ")
        if (included ~ /^Q/ && from[1] < 4 && file !~ /^platform\/qt\//) {
            fail("Qt below the window: " included); next
        }
        if ($0 !~ /"/) next
        if (included ~ /\.\./) { fail("an include names its folder from the source root: " included); next }
        target = layer(included)
        if (target == "") next
        split(target, to, " ")
        if (to[2] != from[2]) arrows[from[2] " -> " to[2]]++
        unit = file; sub(/^tests\//, "", unit); sub(/Test\.cpp$/, "", unit)
        if (included ~ /^platform\/(posix|win32)\// && from[2] != "platform" &&
            !(file ~ /^tests\/[^\/]*Test\.cpp$/ && index(units, " " unit " "))) {
            fail("a host'\''s own header outside the platform layer: " included)
        } else if (to[2] != from[2] && to[1] >= from[1]) {
            fail(from[2] " may not include " to[2] ": " included)
        }
    }
    END {
        if (graph == "--graph") {
            print "digraph layers {"
            for (arrow in arrows) print "    " arrow " [label=" arrows[arrow] "];"
            print "}"
        }
        exit status
    }'
