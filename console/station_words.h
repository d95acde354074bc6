// What is wrong with a station file, in both languages: kbcctl says it in English, the window in
// Chinese.
#pragma once

#include <string>
#include <string_view>

#include "console/wording.h"

namespace kbc::console::station_words {

Wording not_toml(std::string_view description);
// "store = "/srv/evidence"": an absolute folder in quotes.
Wording takes_folder(std::string_view example);
// An absolute file in quotes.
Wording takes_file();
// erase: "warn", "require-offload" or "require-upload".
Wording takes_erase_rule();
// [upload] verify: "head" or "read-back".
Wording takes_verify();
Wording takes_span();
Wording takes_text();
Wording takes_address();
Wording takes_table(std::string_view table);
enum class Counted { days, connections, recorders };
Wording takes_count(Counted counted, long long most);
// "'colour' is no key of a station file; the keys: ..."
Wording no_key(std::string_view key, std::string_view table, std::string_view keys);
// "[upload] needs endpoint, bucket and credentials"
Wording needs(std::string_view table, std::string_view keys);
// A share of the store or a size: "15%", "200G".
Wording takes_room();
// The station's rule holds over a weaker one: "the user's file asks erase = "warn"; ...".
Wording weaker_rule(std::string_view file, std::string_view asked, std::string_view holds);

}  // namespace kbc::console::station_words
