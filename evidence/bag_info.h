// bag-info.txt: "Label: value" lines (RFC 8493 2.2.2), read by one reader for the store's listing,
// the check and the upload.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "evidence/store.h"

namespace kbc::evidence {

// What bag-info.txt tells of the offload besides its payload. The texts are shown as they are:
// the caller makes each one line of plain text.
struct BagInfo {
  std::string serial;  // get_sn's text, or --serial
  Officer officer;
  std::string host;
  std::string operator_name;
  std::string tool;  // "kbcctl 0.2.0"
};

using Labels = std::vector<std::pair<std::string, std::string>>;

struct PayloadOxum;
// The text of bag-info.txt: who, whose and what, then `more` (the volume, the times), the
// payload's size and the time it was verified.
std::string bag_info_text(const BagInfo& info, const Labels& more, const PayloadOxum& oxum,
                          std::chrono::sys_seconds verified);

// Every label of the bag's bag-info.txt with its value (the first, where a label repeats);
// nullopt when the file cannot be read.
std::optional<std::map<std::string, std::string, std::less<>>> read_bag_info(
    const std::filesystem::path& bag);
// One value: "Recorder-Serial" gives "KBC0002"; nullopt when the bag has none.
std::optional<std::string> bag_info_value(const std::filesystem::path& bag, std::string_view label);

struct PayloadOxum {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
};
// "BYTES.FILES"; nullopt for anything else.
std::optional<PayloadOxum> parse_payload_oxum(std::string_view text);
// "Payload-Oxum: BYTES.FILES" of a bag's bag-info.txt; false when it has none.
bool read_payload_oxum(const std::filesystem::path& bag, std::uint64_t& bytes,
                       std::uint64_t& files);

// "20261208T143005Z".
std::string utc_stamp(std::chrono::sys_seconds when);
// "2026-12-08T14:30:05Z".
std::string iso_utc(std::chrono::sys_seconds when);
// The time of a stamp; nullopt for anything else.
std::optional<std::chrono::sys_seconds> parse_utc_stamp(std::string_view stamp);
// The time of "2026-12-08T14:30:05Z"; nullopt for anything else.
std::optional<std::chrono::sys_seconds> parse_iso_utc(std::string_view text);

}  // namespace kbc::evidence
