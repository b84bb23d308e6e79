// SPDX-License-Identifier: GPL-2.0-or-later
// What the libcurl clients (SMTP, HTTP) share: curl's one-time start, owners for its handles,
// option setting that stops at the first failure, and the certificates a session trusts.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

namespace raid {

// The system's bundle is a few hundred kilobytes; a file far beyond that is not certificates.
inline constexpr std::uintmax_t kCertificateFileMaxBytes = 16 * 1024 * 1024;

// curl_global_init is not safe to race with other curl calls; once, before the first handle.
void InitCurlOnce();

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The system's CA bundle followed by `ours`: curl takes a CA blob instead of its default bundle
// file, and the system's certificates must stay trusted.
std::string TrustedCertificates(CURL* curl, const std::string& ours);

template <typename Value>
void Set(CURL* curl, CURLoption option, Value value, CURLcode& status) {
  if (status == CURLE_OK) status = curl_easy_setopt(curl, option, value);
}

}  // namespace raid
