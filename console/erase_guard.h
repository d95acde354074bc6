// What the erase button knows of a recorder's recordings before it asks: the newest offload of
// them that was verified in the station's evidence store, and the station's rule for erasing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kbc::console {

// A verified offload of a recorder: when it was verified, what it holds, and which bag it is.
struct OffloadFact {
  std::chrono::sys_seconds when{};
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  bool uploaded = false;  // verified at the agency's object store as well
  std::string bag;        // its path, for the erase's entry
  std::string tagmanifest_sha256;
};

// Where the verified offloads are known; the evidence store is one.
class OffloadLedger {
 public:
  virtual ~OffloadLedger() = default;
  // The newest verified offload of the recorder with this serial number; nullopt for none.
  virtual std::optional<OffloadFact> newest_verified(std::string_view serial) = 0;
};

enum class EraseRule {
  warn,             // the question states what was offloaded, and the operator decides
  require_offload,  // no erase without a verified offload within the window
  require_upload,   // nor without that offload verified at the object store
};

// "warn", "require-offload", "require-upload", as the station file and the journal name them.
std::string_view rule_name(EraseRule rule);

// How a span was given, so that it is said back the same way.
enum class SpanUnit { seconds, minutes, hours, days };

struct ErasePolicy {
  EraseRule rule = EraseRule::warn;
  std::chrono::seconds window{30 * 60};
  SpanUnit unit = SpanUnit::minutes;
};

// The stricter of the two, rule and window each: what the station requires (`floor`) can be
// made stricter by `wanted`, never weaker. The window counts only where a rule requires an
// offload.
ErasePolicy at_least(const ErasePolicy& floor, const ErasePolicy& wanted);
// Whether `wanted` asks for less than `floor` in either.
bool weaker(const ErasePolicy& wanted, const ErasePolicy& floor);

// "90秒", "30分钟", "2小时", "1天": a span in the unit it was given in.
std::string span_text(std::chrono::seconds span, SpanUnit unit);
// "90s", "30min", "2h", "1d": the same as the station file takes it.
std::string span_name(std::chrono::seconds span, SpanUnit unit);

// What the station's rule refuses an erase with, "按本站规定，最近30分钟内没有...".
std::string erase_refusal(const ErasePolicy& policy);

// What the erase question adds on its own line: "该记录仪最近一次已验证的导出: 2026-12-08 14:30,
// 132个文件, 3.8 GB", or that there is none, or that the recorder's serial number is not known.
std::string offload_fact_line(const std::optional<std::string>& serial,
                              const std::optional<OffloadFact>& fact);

// Whether the rule lets the recorder be erased at `now`.
bool erase_allowed(const ErasePolicy& policy, const std::optional<OffloadFact>& fact,
                   std::chrono::sys_seconds now);

// "2.0 GB", "512.0 KB", "7 字节": a size as the window and kbcctl show it.
std::string size_text(std::uint64_t bytes);

}  // namespace kbc::console
