#pragma once

// Where Varnel's own browser extension lies, ready to be loaded into a
// browser: installed as <prefix>/share/varnel/extension/{chromium,firefox}
// beside <prefix>/bin/varnel, or in a build tree as <build>/extension/...
// beside <build>/apps/varnel/varnel, or on Windows in extension\ beside
// varnel.exe. Pure look-ups; any thread.

#include <filesystem>

#include "apps/varnel/browser_manifests.h"

namespace vn::cli {

// The folder holding the family's manifest.json; empty when none is found.
std::filesystem::path FindExtensionFolder(ManifestFamily family);

}  // namespace vn::cli
