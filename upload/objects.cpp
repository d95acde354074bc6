#include "upload/objects.h"

#include <system_error>

#include "evidence/bag_check.h"
#include "evidence/manifest.h"

namespace kbc::upload {
namespace fs = std::filesystem;

std::variant<std::vector<Object>, std::string> objects_of(const fs::path& bag) {
  std::vector<Object> objects;
  for (const char* name : {"manifest-sha256.txt", "tagmanifest-sha256.txt"}) {
    const std::optional<evidence::Manifest> manifest = evidence::read_manifest(bag / name);
    if (!manifest) {
      return std::string(name) + " is missing";
    }
    if (!manifest->bad_lines.empty()) {
      return std::string(name) + " has a line that is no manifest line";
    }
    for (const evidence::ManifestLine& line : manifest->lines) {
      if (!evidence::inside_bag(line.path)) {
        return std::string(name) + " names " + line.path + ", which lies outside the bag";
      }
      objects.push_back({line.path, line.sha256, 0});
    }
  }
  objects.push_back({"tagmanifest-sha256.txt", evidence::tagmanifest_sha256(bag).value_or(""), 0});
  std::error_code error;
  for (Object& object : objects) {
    object.size = fs::file_size(bag / object.file, error);
    if (error) {
      return object.file + ": " + error.message();
    }
  }
  return objects;
}

std::string object_key(const UploadSettings& settings, const evidence::Store& store,
                       const fs::path& bag, std::string_view file) {
  std::string key = settings.prefix.empty() ? "" : settings.prefix + "/";
  key += fs::relative(bag, store.root()).generic_string();
  key.append("/").append(file);
  return key;
}

}  // namespace kbc::upload
