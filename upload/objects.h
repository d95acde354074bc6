// A verified bag as the object store holds it: an object per file, named after the bag's place in
// the station's store.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "evidence/store.h"
#include "upload/settings.h"

namespace kbc::upload {

// One object of a bag: its file and what the bag's manifests say of it.
struct Object {
  std::string file;  // relative to the bag: "data/DCIM/0001.MP4", "bag-info.txt"
  std::string sha256;
  std::uint64_t size = 0;
};

// The bag's payload from its manifest and its tag files from the tag manifest, the tag manifest
// itself last; the problem when the bag does not say what it holds.
std::variant<std::vector<Object>, std::string> objects_of(const std::filesystem::path& bag);

// The object store's name of a file of a bag: PREFIX/<bag's path in the store>/<file>.
std::string object_key(const UploadSettings& settings, const evidence::Store& store,
                       const std::filesystem::path& bag, std::string_view file);

}  // namespace kbc::upload
