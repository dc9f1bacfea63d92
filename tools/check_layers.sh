#!/usr/bin/env bash
# The library's folders form a stack, each including only from itself and the folders below:
#   core < mesh < lights < texlight < pipeline < viewer < apps
# Prints every include that reaches upwards and exits 1 when there is one.
#
#   tools/check_layers.sh [source root]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

layers=(core mesh lights texlight pipeline viewer apps)
rank() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

found=0
while IFS= read -r file; do
  own=$(rank "${file%%/*}")
  while IFS=: read -r line text; do
    target=$(sed 's/^[^"]*"\([^"]*\)".*/\1/' <<<"$text")
    folder=${target%%/*}
    theirs=$(rank "$folder")
    if [ "$theirs" -gt "$own" ]; then
      echo "$file:$line includes \"$target\": $folder/ sits above ${file%%/*}/"
      found=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "${layers[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort)

if [ "$found" -ne 0 ]; then
  exit 1
fi
echo "No include reaches a higher folder."
