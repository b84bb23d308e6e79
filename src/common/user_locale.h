// SPDX-License-Identifier: GPL-2.0-or-later
// The user's locale for the texts we show and log (dates and times above all), with numbers kept
// in the C form so that parsing and JSON do not depend on where the user lives.
#pragma once

namespace raid {

// Takes the locale from the environment (LC_ALL, LC_*, LANG). A locale that is not installed falls
// back to "C" without a word. LC_NUMERIC stays "C". Call first thing, before any thread starts.
void ApplyUserLocale();

}  // namespace raid
