// The object store's copy of an object held against the bag: its size and SHA-256, COMPLIANCE
// retention until no earlier than was asked, and the very version noted when it was stored
// (HEAD), or its bytes read back and hashed as well (read-back).
#pragma once

#include <optional>
#include <string>

#include "upload/connection.h"
#include "upload/queue.h"
#include "upload/settings.h"

namespace kbc::upload {

// What is wrong with the store's copy; nullopt when nothing.
std::optional<std::string> problem_at_store(Connection& connection, const std::string& key,
                                            const Object& object, const NotedObject& noted,
                                            UploadSettings::Verify verify);

}  // namespace kbc::upload
