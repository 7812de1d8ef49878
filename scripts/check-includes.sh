#!/usr/bin/env bash
# Fails when a source file includes a layer above it or a sibling it must not
# use, or a third-party header that belongs to one folder only. Tests, benchmarks
# and fuzz targets are free. Every folder under apps/ and platform/ needs a rule
# below: a new folder states its place in the layering when it is added.
# Also runs check-command-names.sh: command names only from their header.
# Usage: scripts/check-includes.sh [ROOT]
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
root=${1:-$(cd "$scripts/.." && pwd)}
cd "$root"

# Folder of the including file -> folders its "..." includes may name. The
# rule of apps/service is for the files in that folder itself (main.cpp).
declare -A allowed=(
  [platform]="platform"
  [apps/protocol]="apps/protocol platform"
  [apps/database]="apps/database platform"
  [apps/service/task]="apps/service/task apps/protocol platform"
  [apps/service/pipe]="apps/service/pipe apps/protocol platform"
  [apps/service/engine]="apps/service/engine apps/service/task apps/protocol platform"
  [apps/service/store]="apps/service/store apps/service/task apps/database apps/protocol platform"
  [apps/service/torrent]="apps/service/torrent apps/service/task apps/protocol platform"
  [apps/service/core]="apps/service apps/database apps/protocol platform"
  [apps/service]="apps/service apps/database apps/protocol platform"
  [apps/varnel]="apps/varnel apps/database apps/protocol platform"
  [apps/native-host]="apps/native-host apps/protocol platform"
)

# Third-party headers (<prefix...>) and the only folder that may include them.
declare -A owner=(
  [sqlite3.h]="apps/database apps/service/store"
  [libtorrent/]="apps/service/torrent"
  [curl/]="platform"
  [openssl/]="platform"
  [sys/socket.h]="platform"
)

# Known crossings, each with what has to happen for it to go. An entry that no
# longer occurs fails too, so the list only shrinks.
declare -A exceptions=(
)

# The rule of the file's own folder, or nothing.
layer_of() {
  local folder
  folder=$(dirname "$1")
  if [ -n "${allowed[$folder]+x}" ]; then printf '%s' "$folder"; fi
}

under_any() {  # under_any PATH FOLDER... : true when PATH lies in one of them
  local path=$1 folder
  shift
  for folder in "$@"; do
    case "$path" in "$folder"/*) return 0 ;; esac
  done
  return 1
}

failures=0
declare -A seen=()
fail() { echo "check-includes: $*" >&2; failures=$((failures + 1)); }

while IFS= read -r -d '' file; do
  layer=$(layer_of "$file")
  if [ -z "$layer" ]; then
    fail "$file: its folder has no rule in scripts/check-includes.sh"
    continue
  fi
  read -r -a may <<<"${allowed[$layer]}"
  while IFS= read -r line; do
    number=${line%%:*}
    text=${line#*:}
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      under_any "$target" "${may[@]}" && continue
      if [ -n "${exceptions["$file $target"]+x}" ]; then
        seen["$file $target"]=1
        continue
      fi
      fail "$file:$number: $layer may not include \"$target\""
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
      target=${BASH_REMATCH[1]}
      for prefix in "${!owner[@]}"; do
        if [[ $target == "$prefix"* ]] && ! under_any "$file" ${owner[$prefix]}; then
          fail "$file:$number: only ${owner[$prefix]} may include <$target>"
        fi
      done
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(find apps platform -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) -print0 | sort -z)

for crossing in "${!exceptions[@]}"; do
  [ -n "${seen[$crossing]+x}" ] || fail "no longer found, remove it from the list: $crossing"
done

"$scripts/check-command-names.sh" "$root" || fail "command names spelled outside apps/protocol (see above)"

if [ "$failures" -gt 0 ]; then
  echo "check-includes: $failures problem(s)" >&2
  exit 1
fi
echo "check-includes: layering holds"
