// SPDX-License-Identifier: GPL-2.0-or-later
// The one way the push channels reach a server: a single HTTP exchange, told truthfully (not sent,
// sent without an answer, answered). libcurl underneath; tests script the replies.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "notify/push/push_types.h"

namespace raid {

struct HttpOptions {
  std::chrono::seconds timeout{30};  // for the whole exchange, connecting included
  std::string ca_file;  // PEM certificates trusted besides the system's store; empty for none
};

// What a channel of notify.toml asks of each exchange.
inline HttpOptions ChannelHttpOptions(const ChannelConfig& channel) {
  return {std::chrono::seconds(channel.timeout_seconds), channel.ca_file};
}

class HttpClient {
 public:
  virtual ~HttpClient() = default;

  // One exchange; redirects are not followed. Never throws: every failure is in the reply.
  virtual HttpReply Perform(const HttpRequest& request, const HttpOptions& options) = 0;
  // From any thread: a Perform under way gives up within about a second, and later ones fail at
  // once. For a program that is stopping.
  virtual void Cancel() = 0;
};

// Each channel gets a client of its own, so that one channel's Cancel or silent server touches no
// other.
using HttpClientFactory = std::function<std::unique_ptr<HttpClient>()>;

}  // namespace raid
