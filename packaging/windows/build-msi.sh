#!/usr/bin/env bash
# Builds varnel-<version>-x64.msi from the cross-built programs with wixl
# (Debian's wixl package): a per-user install into
# %LOCALAPPDATA%\Programs\Varnel (packaging/windows/varnel.wxs).
# Usage: packaging/windows/build-msi.sh [PROGRAMS_FOLDER [OUTPUT_FOLDER]]
#   PROGRAMS_FOLDER  holds service.exe, varnel.exe, native-host.exe (build/windows)
#   OUTPUT_FOLDER    where the .msi goes (the programs' folder)
# The browser extension ids the native-messaging manifests allow come from
#   VARNEL_CHROMIUM_EXTENSION_ID, VARNEL_FIREFOX_EXTENSION_ID
# or else from Varnel's own extension (extension/ids.json).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
programs=$(cd "${1:-$root/build/windows}" && pwd)
output=${2:-$programs}

from_ids_file() {  # key
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' \
    "$root/extension/ids.json" "$1"
}
chromium_id=${VARNEL_CHROMIUM_EXTENSION_ID:-$(from_ids_file chromium)}
firefox_id=${VARNEL_FIREFOX_EXTENSION_ID:-$(from_ids_file firefox)}

# The facts the programs hold, read from where they are written.
version=$(sed -n 's/^project(Varnel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
host_name=$(sed -n 's/.*kNativeHostName = "\([^"]*\)".*/\1/p' "$root/apps/protocol/browser_host_names.h")
description=$(sed -n 's/.*kDescription = "\([^"]*\)".*/\1/p' "$root/apps/varnel/browser_manifests.cpp")
[ -n "$version" ] && [ -n "$host_name" ] && [ -n "$description" ] ||
  { echo "build-msi: cannot read the version, host name or description" >&2; exit 1; }
for program in service varnel native-host; do
  [ -f "$programs/$program.exe" ] || { echo "build-msi: $programs/$program.exe is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The manifests name the host beside them: Windows browsers take a path
# relative to the manifest's own folder.
python3 - "$work" "$host_name" "$description" "$chromium_id" "$firefox_id" <<'PY'
import json, sys
work, name, description, chromium, firefox = sys.argv[1:]
common = {"name": name, "description": description, "path": "native-host.exe", "type": "stdio"}
for family, callers in (("chromium", {"allowed_origins": ["chrome-extension://%s/" % chromium]}),
                        ("firefox", {"allowed_extensions": [firefox]})):
    with open("%s/%s.%s.json" % (work, name, family), "w") as manifest:
        json.dump(dict(common, **callers), manifest, indent=2, sort_keys=True)
        manifest.write("\n")
PY

# wixl takes each file from beside the .wxs, by a relative name.
cp "$programs/service.exe" "$programs/varnel.exe" "$programs/native-host.exe" \
  "$root/packaging/windows/varnel.wxs" "$work/"
x86_64-w64-mingw32-strip "$work"/*.exe
msi="$(cd "$output" && pwd)/varnel-$version-x64.msi"
(cd "$work" && wixl --arch x64 -D Version="$version" -D HostName="$host_name" \
  -o "$msi.part" varnel.wxs)
mv "$msi.part" "$msi"
echo "$msi"
