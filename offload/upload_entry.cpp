#include "offload/upload_entry.h"

#include "evidence/bag_info.h"

namespace kbc::offload {

console::AuditEntry upload_entry(const upload::Uploaded& bag,
                                 const upload::UploadSettings& settings) {
  std::string listed;
  for (const std::string& object : bag.listed) {
    listed += (listed.empty() ? "" : "\n") + object;
  }
  console::AuditEntry entry{
      "upload",
      bag.path.string(),
      settings.endpoint + "/" + settings.bucket,
      evidence::bag_info_value(bag.path, "Recorder-Serial"),
      bag.stored      ? console::AuditOutcome::ok
      : bag.permanent ? console::AuditOutcome::refused
                      : console::AuditOutcome::failed,
      {bag.stored ? "stored: " + std::to_string(bag.objects) + " objects, retained until " +
                        bag.retain_until
                  : bag.problem.value_or("not stored")},
      false,
      {{"KBC_BAG", bag.path.string()}, {"KBC_BAG_NAME", bag.bag}, {"KBC_BUCKET", settings.bucket}}};
  if (bag.stored) {
    entry.fields.emplace_back("KBC_OBJECTS", listed);
    entry.fields.emplace_back("KBC_RETAIN_UNTIL", bag.retain_until);
  }
  return entry;
}

console::AuditEntry prune_entry(const upload::Pruned& bag, const upload::UploadSettings& settings) {
  std::string listed;
  for (const std::string& object : bag.listed) {
    listed += (listed.empty() ? "" : "\n") + object;
  }
  return {"prune",
          bag.path.string(),
          settings.endpoint + "/" + settings.bucket,
          bag.serial,
          console::AuditOutcome::ok,
          {"removed from the station: " + std::to_string(bag.listed.size()) +
           " objects checked at the object store"},
          true,
          {{"KBC_BAG", bag.path.string()},
           {"KBC_BAG_NAME", bag.bag},
           {"KBC_BUCKET", settings.bucket},
           {"KBC_OBJECTS", listed},
           {"KBC_TAGMANIFEST_SHA256", bag.tagmanifest_sha256}}};
}

}  // namespace kbc::offload
