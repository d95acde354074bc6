// What went wrong with one file of a bag, or with the bag as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kbc::evidence {

struct BagProblem {
  enum class Kind {
    recorder,  // the recorder's disk would not give the file
    store,     // the store would not take it or give it back
    differs,   // the copy read back is not what was read off the recorder
    room,      // the store has not the room for what is still to copy
    changed,   // the bag changed while it was being verified: someone else wrote into it
  };
  Kind kind;
  std::string path;          // the file's, under data/; empty: the bag's
  std::string detail;        // the system's word ("Input/output error"); empty for differs and room
  std::uint64_t needed = 0;  // room: the bytes to copy, and those the store has free
  std::uint64_t free = 0;

  // "DCIM/0001.MP4: Input/output error"
  std::string english() const;
};

std::vector<std::string> english_lines(const std::vector<BagProblem>& problems);

}  // namespace kbc::evidence
