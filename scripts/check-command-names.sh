#!/usr/bin/env bash
# Fails when a command name of apps/protocol/command_names.h is spelled as a
# string literal anywhere else under apps/ or platform/: every program takes it
# from that header, so a renamed command cannot leave a stale copy behind.
# Tests, benchmarks and fuzz targets are free. Called by check-includes.sh.
# Usage: scripts/check-command-names.sh [ROOT]
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
header=apps/protocol/command_names.h

# The names between "namespace vn::command {" and its closing brace.
mapfile -t names < <(sed -n '/^namespace vn::command {/,/^}/s/.*constexpr const char\* k[A-Za-z]* = "\([a-z_]*\)";.*/\1/p' "$header")
if [ "${#names[@]}" -eq 0 ]; then
  echo "check-command-names: no command names found in $header" >&2
  exit 1
fi

failures=0
for name in "${names[@]}"; do
  while IFS= read -r hit; do
    echo "check-command-names: $hit: spells \"$name\"; use the constant of $header" >&2
    failures=$((failures + 1))
  done < <(grep -rnF --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
             "\"$name\"" apps platform | grep -v '^apps/protocol/' || true)
done

if [ "$failures" -gt 0 ]; then
  echo "check-command-names: $failures problem(s)" >&2
  exit 1
fi
echo "check-command-names: every command name comes from $header"
