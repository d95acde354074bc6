// The two control transfers of one command and the rule that turns the reply into a status.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "command_table.h"
#include "session.h"

namespace kbc::link {

struct Exchange {
  enum class Stage {
    out_failed,  // the command did not go out whole; no reply was asked for
    in_failed,   // the reply transfer failed or was not the expected length
    replied,     // a reply of exactly the expected length came back
  };
  Stage stage;
  int out_result;                   // usb_control_msg's result for the command
  int in_result;                    // and for the reply (0 when it was not asked for)
  std::vector<std::uint8_t> reply;  // the expected length, zero-filled past what came back
};

// Pauses, sends the payload (letter, argument cut to fit, zero fill) and reads the reply.
Exchange exchange(Device& device, const CommandSpec& command,
                  std::span<const std::uint8_t> argument);

// The command's status for this exchange. `off` picks set_voice_prompt's statuses for argument "0".
Status judge(const CommandSpec& command, const Exchange& exchange, bool off = false);

}  // namespace kbc::link
