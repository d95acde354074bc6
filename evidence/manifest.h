// BagIt's manifests (RFC 8493 2.1.3): a line "SHA256  PATH" per file, the path with '%', CR and LF
// percent-encoded. One reader of them for the check, the upload and the progress record.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbc::evidence {

// A path as a manifest writes it: '%', CR and LF percent-encoded.
std::string manifest_path(std::string_view path);
// `text` with each character of `special` percent-encoded ("%09" for a tab).
std::string percent_encoded(std::string_view text, std::string_view special);
// The path a manifest line names; nullopt for a '%' not followed by two hex digits.
std::optional<std::string> decoded_manifest_path(std::string_view encoded);

struct ManifestLine {
  std::string sha256;  // 64 lower-case hex digits
  std::string path;    // decoded, relative to the bag: "data/DCIM/0001.MP4"
};

struct Manifest {
  std::vector<ManifestLine> lines;
  std::vector<std::size_t> bad_lines;  // numbers (from 1) of the lines that are no manifest line
};

Manifest parse_manifest(std::string_view text);
// The manifest file of a bag; nullopt when it cannot be read.
std::optional<Manifest> read_manifest(const std::filesystem::path& file);

// "SHA256  PATH\n", the path encoded.
std::string manifest_line(std::string_view sha256, std::string_view path);

// A path a manifest may name: relative, without empty, "." or ".." parts, so that nothing that
// reads a bag by its manifests reads outside it.
bool inside_bag(std::string_view path);

// 64 lower-case hex digits.
bool is_sha256_hex(std::string_view text);

}  // namespace kbc::evidence
