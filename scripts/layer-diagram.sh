#!/usr/bin/env bash
# Draws docs/layers.svg from the build's own target graph: `cmake --graphviz`
# on a fresh configuration with the release options, kept to the project's
# libraries and programs (the targets defined under apps/ and platform/; tests,
# fuzz and benchmark targets and external libraries are left out), each in a
# box of the folder that defines it, rendered with Graphviz dot. A link that
# follows from two others is left out (tred), so each arrow says something.
# The output holds no time or path, so the same build gives the same bytes.
# Usage: scripts/layer-diagram.sh [--check]
#   --check  fail when docs/layers.svg differs from what the build gives
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
svg="$root/docs/layers.svg"
check=false
case "${1:-}" in
  "") ;;
  --check) check=true ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
for tool in cmake dot tred; do
  command -v "$tool" >/dev/null 2>&1 ||
    { echo "layer-diagram: $tool is missing (scripts/install-deps.sh test installs it)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-layers-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/build"
# Read by cmake --graphviz from the build folder: one graph, project targets only.
cat >"$work/build/CMakeGraphVizOptions.cmake" <<'EOF'
set(GRAPHVIZ_GRAPH_NAME "layers")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
EOF
# The release options without the tests: the tests only add targets that are
# left out anyway, and GoogleTest is not needed to draw the picture.
if ! cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=OFF \
    -DVARNEL_TESTS=OFF --graphviz="$work/targets.dot" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  echo "layer-diagram: cmake could not configure the tree" >&2
  exit 1
fi

# Target -> folder that defines it: each target's CMakeFiles/<target>.dir lies
# in the build folder of its CMakeLists.txt.
(cd "$work/build" && find apps platform -path '*/CMakeFiles/*.dir' -type d) >"$work/folders"

# cmake writes each node as `"nodeN" [ label = "NAME", shape = SHAPE ];` (egg:
# a program) and each link as `"nodeA" -> "nodeB" [ style = STYLE ] // A -> B`
# (solid: PUBLIC, dotted: PRIVATE, dashed: INTERFACE). Everything is written
# sorted, so the same graph is always the same text: dot lays out in input
# order.
python3 - "$work/targets.dot" "$work/folders" >"$work/layers.dot" <<'EOF'
import re, sys
from collections import defaultdict

graph, folders = open(sys.argv[1]).read(), open(sys.argv[2]).read().split()
folder_of = {}
for path in folders:
    match = re.fullmatch(r'(.*)/CMakeFiles/(.*)\.dir', path)
    folder_of[match.group(2)] = match.group(1)
programs = set()
for name, shape in re.findall(r'"node\d+" \[ label = "([^"]+)", shape = (\w+)', graph):
    if shape == 'egg':
        programs.add(name)
links = {}
for line in graph.splitlines():
    match = re.match(r'\s*"node\d+" -> "node\d+"(?: \[ style = (\w+) \])?\s*// (\S+) -> (\S+)$', line)
    if match and match.group(2) != match.group(3) and match.group(2) in folder_of \
            and match.group(3) in folder_of:
        links[(match.group(2), match.group(3))] = match.group(1) or 'solid'
members = defaultdict(list)
for name, folder in folder_of.items():
    members[folder].append(name)

print('digraph layers {')
print('  graph [fontname="Helvetica", fontsize=10, nodesep=0.25, ranksep=0.45, labelloc=b,')
print('         label="solid arrow: PUBLIC link, dotted: PRIVATE; a link that follows from others is left out"];')
print('  node [fontname="Helvetica", fontsize=11, shape=box, style="rounded,filled", fillcolor="#eef3fb"];')
print('  edge [color="#56606e", arrowsize=0.6];')
# A folder's box holds the boxes of the folders below it (apps/service/engine
# inside apps/service).
def parent(folder):
    enclosing = [other for other in members if folder.startswith(other + '/')]
    return max(enclosing, key=len) if enclosing else None

def box(folder, indent):
    print(f'{indent}subgraph "cluster_{folder}" {{')
    print(f'{indent}  label="{folder}"; labelloc=t; fontsize=10; style=rounded; color="#9aa5b4";')
    for name in sorted(members[folder]):
        extra = ' [fillcolor="#fbe9c6", penwidth=1.5]' if name in programs else ''
        print(f'{indent}  "{name}"{extra};')
    for inner in sorted(other for other in members if parent(other) == folder):
        box(inner, indent + '  ')
    print(f'{indent}}}')

for folder in sorted(folder for folder in members if parent(folder) is None):
    box(folder, '  ')
for (source, target), style in sorted(links.items()):
    print(f'  "{source}" -> "{target}" [style={style}];')
print('}')
EOF

tred "$work/layers.dot" >"$work/reduced.dot"
dot -Tsvg "$work/reduced.dot" >"$work/layers.svg"

if $check; then
  if ! cmp -s "$work/layers.svg" "$svg"; then
    echo "layer-diagram: docs/layers.svg does not match the build's target graph;" \
      "run scripts/layer-diagram.sh and commit docs/layers.svg" >&2
    exit 1
  fi
  echo "layer-diagram: docs/layers.svg matches the build"
else
  cp "$work/layers.svg" "$svg"
  echo "layer-diagram: wrote docs/layers.svg"
fi
