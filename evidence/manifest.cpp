#include "evidence/manifest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace kbc::evidence {

std::string manifest_path(std::string_view path) {
  return percent_encoded(path, "%\r\n");
}

std::string percent_encoded(std::string_view text, std::string_view special) {
  std::string out;
  for (const char c : text) {
    if (special.find(c) != std::string_view::npos) {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> decoded_manifest_path(std::string_view encoded) {
  std::string path;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path += encoded[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= encoded.size()) {
      return std::nullopt;
    }
    const auto [end, error] =
        std::from_chars(encoded.data() + i + 1, encoded.data() + i + 3, value, 16);
    if (error != std::errc() || end != encoded.data() + i + 3) {
      return std::nullopt;
    }
    path += static_cast<char>(value);
    i += 2;
  }
  return path;
}

bool inside_bag(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') {
    return false;
  }
  while (!path.empty()) {
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string_view part = path.substr(0, slash);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    path.remove_prefix(std::min(slash + 1, path.size()));
  }
  return true;
}

bool is_sha256_hex(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

Manifest parse_manifest(std::string_view text) {
  Manifest manifest;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    // The hash, one or more spaces (or a tab), the path.
    std::optional<std::string> path;
    std::string sha(line.substr(0, std::min<std::size_t>(64, line.size())));
    for (char& c : sha) {
      c = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (line.size() > 65 && is_sha256_hex(sha) && (line[64] == ' ' || line[64] == '\t')) {
      const std::size_t start = line.find_first_not_of(" \t", 64);
      if (start != std::string_view::npos) {
        path = decoded_manifest_path(line.substr(start));
      }
    }
    if (!path || path->empty()) {
      manifest.bad_lines.push_back(number);
    } else {
      manifest.lines.push_back({std::move(sha), std::move(*path)});
    }
  }
  return manifest;
}

std::optional<Manifest> read_manifest(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    return std::nullopt;
  }
  return parse_manifest(text);
}

std::string manifest_line(std::string_view sha256, std::string_view path) {
  std::string line(sha256);
  return line.append("  ").append(manifest_path(path)).append("\n");
}

}  // namespace kbc::evidence
