// The object store's keys: systemd's credential "s3" where the service has one, else the
// credentials file named in [upload], which nobody else may read.
#pragma once

#include <string>
#include <variant>

#include "upload/s3_client.h"
#include "upload/settings.h"

namespace kbc::offload {

// The account of the settings, its keys from $CREDENTIALS_DIRECTORY/s3 where that holds one,
// else from the credentials file; the reason when neither gives them.
std::variant<upload::S3Account, std::string> load_account(const upload::UploadSettings& settings,
                                                          const char* credentials_directory);

}  // namespace kbc::offload
