// SPDX-License-Identifier: GPL-2.0-or-later
// `raidctl notify-show` and `raidctl notify-test`: the push channels of notify.toml, listed with
// their secrets masked, and one test notification to each, with what each service answered.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "notify/push/http_client.h"

namespace raid::cli {

// The HTTP client factory of this build, or none where the build has no HTTP library; `why` then
// says so.
HttpClientFactory MakeHttpClientFactory(std::string& why);

int RunNotifyShowCommand(bool json);
// Exit 0 when every channel tested delivered, 1 when any did not, 2 when notify.toml is missing
// or unreadable or names no channel `channel`.
int RunNotifyTestCommand(const std::optional<std::string>& channel);

}  // namespace raid::cli
