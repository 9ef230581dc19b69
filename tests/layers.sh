#!/bin/bash
# Fails when the sources break the layers of ARCHITECTURE.md, whose table of heights and folders
# it reads: a C++ file in a folder the table does not place; an #include from a lower layer to a
# higher one, between two folders of the same height, to a host's own folder from outside the
# platform layer and its tests, or to Qt outside the window and the Qt platform; an include that
# does not name its folder from the source root; a question of which OS it is outside the
# platform layer. tests/ and bench/ stand above every layer. Usage: layers.sh [source-root]
# [--graph]; --graph also prints the include arrows between layers as a Graphviz digraph
# (dot -Tsvg draws it).
set -euo pipefail
cd "${1:-.}"
graph=${2:-}

# Every C++ file but those of build trees (a folder holding CMakeCache.txt) and hidden folders.
mapfile -t sources < <(find . -mindepth 1 -type d \
    \( -name '.*' -o -exec test -e '{}/CMakeCache.txt' \; \) -prune -o \
    -type f -regex '.*\.\(h\|hh\|hpp\|c\|cc\|cpp\|cxx\)' -print | sed 's|^\./||' | sort)
# A test of a platform unit is named after it (tests/CopySequenceTest.cpp for
# platform/CopySequence.cpp).
units=$(find platform -name '*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | tr '\n' ' ')
# The macros that say which OS it is.
os='_WIN32|_WIN64|WIN32|__linux__|__linux|__unix__|__unix|__APPLE__|__MINGW32__|__MINGW64__|__CYGWIN__|Q_OS_[A-Z0-9_]+'

# The awk program reads three inputs in turn: ARCHITECTURE.md, the file list, then every include
# and conditional line of those files.
awk -v units=" $units" -v graph="$graph" -v os="$os" '
    FNR == 1 { input++ }
    # A row of the table: | height | `folder/` | ...
    input == 1 && /^\| *[0-9]+ *\| *`[^`]+\/`/ {
        split($0, cell, "|"); folder = cell[3]; gsub(/[ `]/, "", folder)
        name = folder; sub(/\/$/, "", name); sub(/.*\//, "", name)
        height[folder] = cell[2] + 0; label[folder] = name
        next
    }
    input == 1 { next }
    input == 2 {
        if (layer($0) == "") { where = $0; fail("a folder ARCHITECTURE.md does not place") }
        next
    }
    # The height and name of the layer a path from the source root is in; the longest folder
    # of the table wins (app/report/ before app/).
    function layer(path,    folder, best) {
        if (path ~ /^(tests|bench)\//) return "5 top"
        best = ""
        for (folder in height)
            if (index(path, folder) == 1 && length(folder) > length(best)) best = folder
        return best == "" ? "" : height[best] " " label[best]
    }
    function fail(why) { print where ": " why > "/dev/stderr"; status = 1 }
    {
        split($0, part, ":"); file = part[1]; where = file ":" part[2]
        split(layer(file), from, " ")
        if (from[2] == "") next
        text = $0; sub(/^[^:]*:[^:]*:/, "", text)
        if (text !~ /^[ \t]*#[ \t]*include/) {
            if (from[2] != "platform" && from[2] != "top" &&
                match(text, "(^|[^A-Za-z0-9_])(" os ")([^A-Za-z0-9_]|$)"))
                fail("only the platform layer asks which OS it is on: " text)
            next
        }
        included = text; sub(/^[^<"]*[<"]/, "", included); sub(/[>"].*/, "", included)
        window = from[2] == "app" || from[2] == "top" || file ~ /^platform\/qt\//
        if ((included ~ /^Q/ || included ~ /^q[a-z0-9_]*\.h$/ || included ~ /^platform\/qt\//) &&
            !window) {
            fail("Qt outside the window and the Qt platform: " included); next
        }
        if (text !~ /"/) next
        stem = file; sub(/.*\//, "", stem); sub(/\.[a-z]+$/, "", stem)
        if (included == stem ".moc") next
        target = layer(included)
        if (included ~ /\.\./ || target == "") {
            fail("an include names its folder from the source root: " included); next
        }
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
        if (length(height) == 0) {
            print "ARCHITECTURE.md: no table of layers" > "/dev/stderr"; exit 1
        }
        if (graph == "--graph") {
            print "digraph layers {"
            for (arrow in arrows) print "    " arrow " [label=" arrows[arrow] "];"
            print "}"
        }
        exit status
    }' ARCHITECTURE.md <(printf '%s\n' "${sources[@]}") \
    <(grep -nHE '^[[:space:]]*#[[:space:]]*(include|if|ifdef|ifndef|elif)' "${sources[@]}" /dev/null)
