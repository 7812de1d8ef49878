// Any bytes as a URL, a Content-Disposition and a file name. Properties: the
// name taken from a URL is safe and holds no "/"; the one taken from the header
// is empty or safe, plain, valid UTF-8 and without a leading dot; removing a
// download's files (final file included) removes nothing but
// <outputPath>/<fileName>, its ".segments" folder and that folder's entries,
// with symbolic links planted inside and beside the output folder pointing out
// of it.
#include <map>
#include <set>

#include "apps/protocol/json_text.h"
#include "apps/service/core/server_file_name.h"
#include "apps/service/core/url_file_name.h"
#include "apps/service/engine/partial_files.h"
#include "fuzz/fuzz_environment.h"

namespace fs = std::filesystem;

namespace {

fs::path sandbox;

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file != nullptr) std::fclose(file);
}

// A fresh output folder beside an "outside" one that links point into.
void Plant() {
  std::error_code ignored;
  fs::remove_all(sandbox, ignored);
  const auto out = sandbox / "out";
  const auto outside = sandbox / "outside";
  for (const char* name : {"target", "0.part", "x.segments/0.part", "x"}) Touch(outside / name);
  for (const char* name : {"file.txt", "sub/keep", "sub/keep.segments/0.part", "x.segments/1.part",
                           "x.segments/inner/0.part"}) {
    Touch(out / name);
  }
  fs::create_directory_symlink("../outside", out / "link");
  fs::create_directory_symlink("../outside", out / "evil.segments");
  fs::create_symlink("../outside/target", out / "evil");
  fs::create_symlink("../../outside/0.part", out / "x.segments" / "2.part");
}

// Everything planted, found once, with its type and, for a link, what it
// names; the walk never follows the links, so these are exactly the entries a
// removal may take away.
struct Planted {
  fs::file_type type;
  fs::path linkTarget;
};
std::map<fs::path, Planted> planted;

void RecordPlanted() {
  for (const auto& entry : fs::recursive_directory_iterator(sandbox)) {
    const auto type = entry.symlink_status().type();
    planted[entry.path().lexically_normal()] = {
        type, type == fs::file_type::symlink ? fs::read_symlink(entry.path()) : fs::path()};
  }
}

// Puts back what a removal took, parents first (the set's order), as planted.
void Restore(const std::set<fs::path>& missing) {
  for (const auto& path : missing) {
    const auto& entry = planted.at(path);
    if (entry.type == fs::file_type::directory) {
      fs::create_directory(path);
    } else if (entry.type == fs::file_type::symlink) {
      fs::create_symlink(entry.linkTarget, path);
    } else {
      Touch(path);
    }
  }
}

// Planted entries that are gone (links as links). Checking each one costs a
// lstat, far less than walking the tree and planting it afresh for every input.
std::set<fs::path> Missing() {
  std::set<fs::path> missing;
  for (const auto& each : planted) {
    std::error_code ignored;
    if (!fs::exists(fs::symlink_status(each.first, ignored))) missing.insert(each.first);
  }
  return missing;
}

void CheckRemoval(const std::string& fileName) {
  vn::DownloadTask task;
  task.outputPath = (sandbox / "out").string();
  task.fileName = fileName;
  vn::RemoveDownloadFiles(task, true);
  const auto missing = Missing();
  if (missing.empty()) return;

  const auto finalFile = (sandbox / "out" / fileName).lexically_normal();
  const auto segments = fs::path(finalFile.string() + ".segments");
  for (const auto& path : missing) {
    if (path == finalFile || path == segments || path.parent_path() == segments) continue;
    vn::fuzz::Fail("removed " + path.string() + " for file name " + fileName);
  }
  Restore(missing);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sandbox = vn::fuzz::MakePrivateRoot() / "names";
  Plant();
  RecordPlanted();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = vn::fuzz::AsText(data, size);
  const auto fromUrl = vn::FileNameFromUrl(text);
  if (!vn::IsSafeFileName(fromUrl) || fromUrl.find('/') != std::string::npos) {
    vn::fuzz::Fail("unsafe name from URL: " + fromUrl);
  }
  const auto fromServer = vn::FileNameFromContentDisposition(text);
  if (!fromServer.empty() &&
      (!vn::IsSafeFileName(fromServer) || fromServer.find_first_of("/\\") != std::string::npos ||
       fromServer.front() == '.' || !vn::IsValidUtf8(fromServer))) {
    vn::fuzz::Fail("unsafe name from Content-Disposition: " + fromServer);
  }
  CheckRemoval(fromUrl);
  CheckRemoval(text);
  return 0;
}
