// SPDX-License-Identifier: GPL-2.0-or-later
// The HttpClient on libcurl: the system's on Linux, on Windows the one built from Debian's sources.
//
// It tells truthfully how far an exchange got: a request that never went out (no connection, a
// certificate that does not verify) is kNotSent and may be sent again; one that went out without a
// complete answer within the time-out is kNoAnswer, since the server may have acted on it.
// Only http and https, no redirect followed (a 3xx is the answer), certificates verified against
// the system's store plus the channel's CA file (or RAIDGUI_NOTIFY_CA_FILE). The environment's
// proxy settings are honoured, as a push service is usually reached through them where there is
// one. Of the reply, the first kHttpReplyKeptBytes and the Retry-After header are kept.
#pragma once

#include <atomic>
#include <cstddef>

#include "notify/push/http_client.h"

namespace raid {

inline constexpr std::size_t kHttpReplyKeptBytes = 4096;
inline constexpr char kNotifyCaFileVariable[] = "RAIDGUI_NOTIFY_CA_FILE";

class CurlHttpClient final : public HttpClient {
 public:
  CurlHttpClient();

  HttpReply Perform(const HttpRequest& request, const HttpOptions& options) override;
  void Cancel() override;

 private:
  std::atomic<bool> cancelled_{false};
};

}  // namespace raid
