// SPDX-License-Identifier: GPL-2.0-or-later
// Whether raidctl's standard streams are a terminal: a person who can answer a question and
// watch a progress bar redrawn in place.
#pragma once

namespace raid::cli {

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

}  // namespace raid::cli
