// Judging a reply: the first byte picks the command, the second how the transfers went and the
// voice prompt's setting, the rest is the reply as the recorder sent it.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "link/command_table.h"
#include "link/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kbc::link;
  if (size < 2) {
    return 0;
  }
  const CommandSpec& command = kCommands[data[0] % kCommands.size()];
  const bool off = (data[1] & 0x80) != 0;
  Exchange exchange{static_cast<Exchange::Stage>(data[1] % 3), 0, 0,
                    std::vector<std::uint8_t>(data + 2, data + size)};
  exchange.reply.resize(command.reply_length);
  const Status status = judge(command, exchange, off);

  const Statuses used = off && command.off_statuses ? *command.off_statuses : command.statuses;
  kbc::fuzz::check(status == used.ok || status == used.fail ||
                   (command.refused && status == *command.refused));
  // A reply that did not come whole is a failure, whatever its bytes say.
  kbc::fuzz::check(exchange.stage == Exchange::Stage::replied || status == used.fail);
  return 0;
}
