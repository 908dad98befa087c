#!/usr/bin/env bash
# Lists every function of engine/ that the program never reaches, and fails on any that the
# allow-list (tools/reachability-allow.txt) does not name. The engine is built unoptimised
# (so no call disappears into inlining) with one section per function and data object; the
# linker then drops what main() cannot reach and names it.
#   tools/reachability.sh [build-dir]        (default build-reach)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-reach}
allow=tools/reachability-allow.txt

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-O0 -ffunction-sections -fdata-sections" \
    -DCMAKE_EXE_LINKER_FLAGS="-Wl,--gc-sections -Wl,--print-gc-sections" >/dev/null
cmake --build "$build" --target tavrix_core -j2 >/dev/null
rm -f "$build/tavrix"   # the linker reports only when it runs
log=$(cmake --build "$build" --target tavrix 2>&1)

# "removing unused section '.text._ZN...' in file 'libtavrix_core.a(x.cpp.o)'" names a dropped
# copy; an inline function dropped in one object may live on from another, so whatever the
# program still holds counts as reached. What is left: the demangled qualified names without
# their parameter lists; instances of library templates follow their callers and are left out.
dropped=$(printf '%s\n' "$log" |
    sed -n "s/.*removing unused section '\.text\.\(unlikely\.\|hot\.\|startup\.\)\{0,1\}\(_Z[^'[]*\).*' in file '[^']*\(libtavrix_core\.a\|main\.cpp\.o\).*/\2/p" |
    sort -u)
kept=$(nm "$build/tavrix" | awk '{print $NF}' | sort -u)
found=$(comm -23 <(printf '%s\n' "$dropped") <(printf '%s\n' "$kept") | c++filt |
    sed 's/(anonymous namespace)/{anonymous}/g; s/(.*//; s/\[abi:[^]]*\]//g' | grep -E '^tavrix::[^ <]*$' | sort -u || true)

allowed=$(sed 's/#.*//; s/^[[:space:]]*//; s/[[:space:]]*$//; /^$/d' "$allow" | sort -u)
new=$(comm -23 <(printf '%s\n' "$found" | sed '/^$/d') <(printf '%s\n' "$allowed"))
gone=$(comm -13 <(printf '%s\n' "$found" | sed '/^$/d') <(printf '%s\n' "$allowed"))

echo "Functions of engine/ the program never reaches: $(printf '%s\n' "$found" | sed '/^$/d' | wc -l)"
printf '%s\n' "$found" | sed '/^$/d; s/^/  /'
if [ -n "$gone" ]; then
    echo "Allowed but now reached or gone (the allow-list can drop them):"
    printf '%s\n' "$gone" | sed 's/^/  /'
fi
if [ -n "$new" ]; then
    echo "NOT ALLOWED: wire these into the program, remove them, or add them to $allow with a reason:"
    printf '%s\n' "$new" | sed 's/^/  /'
    exit 1
fi
echo "Reachability check passed."
