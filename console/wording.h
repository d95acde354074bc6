// A problem with what the operator gave, in the words of each view: kbcctl speaks English to
// scripts and their logs, the window speaks Chinese to the operator.
#pragma once

#include <string>

namespace kbc::console {

struct Wording {
  std::string english;
  std::string chinese;
};

// Both wordings of the same problem with one prefix, such as the key it concerns.
inline Wording prefixed(const std::string& prefix, const Wording& wording) {
  return {prefix + wording.english, prefix + wording.chinese};
}

}  // namespace kbc::console
