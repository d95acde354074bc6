#include "exchange.h"

#include <algorithm>
#include <array>

#include "secret.h"

namespace kbc::link {

Exchange exchange(Device& device, const CommandSpec& command,
                  std::span<const std::uint8_t> argument) {
  std::array<std::uint8_t, 128> payload{};
  // It may carry a password.
  const WipeOnExit wiped(payload);
  const std::size_t length = command.payload_length;
  payload[0] = static_cast<std::uint8_t>(command.letter);
  // An argument that does not fit is cut at the payload's end.
  const std::size_t kept = std::min(argument.size(), length - 1);
  std::copy_n(argument.begin(), kept, payload.begin() + 1);

  device.pause().pause(kPause);

  Exchange result{Exchange::Stage::out_failed, 0, 0,
                  std::vector<std::uint8_t>(command.reply_length, 0)};
  result.out_result = device.handle().control_msg(
      kRequestOut, kRequest, kValue, kIndex, std::span(payload.data(), length), kTransferTimeoutMs);
  if (result.out_result != static_cast<int>(length)) {
    return result;
  }
  result.in_result = device.handle().control_msg(kRequestIn, kRequest, kValue, kIndex, result.reply,
                                                 kTransferTimeoutMs);
  result.stage = result.in_result == static_cast<int>(command.reply_length)
                     ? Exchange::Stage::replied
                     : Exchange::Stage::in_failed;
  return result;
}

Status judge(const CommandSpec& command, const Exchange& exchange, bool off) {
  const Statuses statuses = off && command.off_statuses ? *command.off_statuses : command.statuses;
  if (exchange.stage != Exchange::Stage::replied) {
    return statuses.fail;
  }
  if (!command.reply_code) {
    return statuses.ok;
  }
  if (exchange.reply[0] != *command.reply_code) {
    return statuses.fail;
  }
  if (exchange.reply[1] == kOutcomeDone) {
    return statuses.ok;
  }
  if (command.refused && exchange.reply[1] == kOutcomeRefused) {
    return *command.refused;
  }
  return statuses.fail;
}

}  // namespace kbc::link
