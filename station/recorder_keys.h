// The station's recorder keys: the password the station service gives each recorder, by serial
// number, with a default for the rest.
//
//   default = "888888"
//   [serials]
//   KBC0001 = "123456"
//
// The file is refused when others may read it or change it, unless systemd handed it over as the
// credential "recorder-keys" ($CREDENTIALS_DIRECTORY, readable by the service alone). No key is
// ever part of a problem's text, the trace, the journal or a report.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "link/secret.h"

namespace kbc::station {

inline constexpr std::string_view kKeysCredential = "recorder-keys";
inline constexpr std::string_view kSystemKeysFile = "/etc/kbc-q7/recorders.toml";

class RecorderKeys {
 public:
  RecorderKeys() = default;
  using BySerial = std::map<std::string, link::Secret, std::less<>>;
  RecorderKeys(std::optional<link::Secret> fallback, BySerial serials)
      : fallback_(std::move(fallback)), serials_(std::move(serials)) {}

  // The serial's own key, else the default; nullptr for neither.
  const link::Secret* key_for(std::string_view serial) const;
  std::size_t size() const { return serials_.size() + (fallback_ ? 1 : 0); }

 private:
  std::optional<link::Secret> fallback_;
  BySerial serials_;
};

// The keys of `text`, or the first problem in English with its line, never the key itself.
std::variant<RecorderKeys, std::string> parse_recorder_keys(std::string_view text);

// The credential, where `credentials` (the service's $CREDENTIALS_DIRECTORY) holds one, else the
// file at `path` (offload::read_secret_file).
std::variant<RecorderKeys, std::string> read_recorder_keys(const std::filesystem::path& path,
                                                           const char* credentials);

}  // namespace kbc::station
