// SPDX-License-Identifier: GPL-2.0-or-later
// Every controller answer the program decodes, through its own code: the input is what the
// enclosures answer (see answer_session.h for its layout), the rest is the real discovery,
// status monitor, event detector, flash read and drive command.
#include <cstddef>
#include <cstdint>

#include "answer_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  raid::fuzz::AnswerHost host({data, size});
  raid::VirtualClock clock(raid::fuzz::SessionStart());
  raid::fuzz::RunSession(host, clock);
  return 0;
}
