// SPDX-License-Identifier: GPL-2.0-or-later
#include "notify/curl_support.h"

#include <mutex>

#include "common/platform_files.h"

namespace raid {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string TrustedCertificates(CURL* curl, const std::string& ours) {
  std::string bundle;
  char* system_bundle = nullptr;
  std::string ignored;
  if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &system_bundle) == CURLE_OK &&
      system_bundle != nullptr)
    ReadRegularFile(system_bundle, bundle, ignored, kCertificateFileMaxBytes);
  if (!bundle.empty() && bundle.back() != '\n') bundle += '\n';
  return bundle + ours;
}

}  // namespace raid
