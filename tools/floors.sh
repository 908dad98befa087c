#!/usr/bin/env bash
# Fails on any #include of engine/ that runs from a lower floor up to a higher one.
# Floors from the ground up: platform, board, settings (and any other folder not named below);
# eval and tablebase; search; book; control. A folder may include its own floor and those beneath.
#   tools/floors.sh [project-root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

floor() {
    case $1 in
        eval|tablebase) echo 1 ;;
        search) echo 2 ;;
        book) echo 3 ;;
        control) echo 4 ;;
        *) echo 0 ;;
    esac
}

bad=0
for dir in "$root"/engine/*/; do
    folder=$(basename "$dir")
    own=$(floor "$folder")
    while IFS=: read -r file line text; do
        target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_0-9]+)\/.*/\1/' <<<"$text")
        [ "$target" = "$folder" ] && continue
        # eval and tablebase share a floor but stand side by side: the tables never read the evaluation.
        if [ "$(floor "$target")" -gt "$own" ] || { [ "$folder" = tablebase ] && [ "$target" = eval ]; }; then
            echo "${file#"$root"/}:$line: $folder includes $target/"
            bad=$((bad + 1))
        fi
    done < <(grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
                 '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_0-9]+/' "$dir" || true)
done
echo "$bad includes run up"
[ "$bad" -eq 0 ]
