#include "foundation/url.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>

namespace {

void ensureCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::size_t appendBody(char* ptr, std::size_t size, std::size_t count, void* user) {
  auto* out = static_cast<NSData*>(user);
  out->insert(out->end(), ptr, ptr + size * count);
  return size * count;
}

}  // namespace

std::optional<NSURL> NSURL::URLWithString(const std::string& text) {
  ensureCurl();
  CURLU* url = curl_url();
  if (!url) return std::nullopt;
  std::optional<NSURL> result;
  if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
    char* scheme = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme) {
      result = NSURL{text, scheme};
      curl_free(scheme);
    }
  }
  curl_url_cleanup(url);
  return result;
}

NSURLFetchResult NSURLFetchSynchronously(const NSURL& url, double timeoutSeconds) {
  ensureCurl();
  NSURLFetchResult result;
  CURL* curl = curl_easy_init();
  if (!curl) {
    result.error = std::make_shared<NSError>(NSURLErrorDomain, -1, "Could not start the request");
    return result;
  }
  NSData body;
  char errorText[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(curl, CURLOPT_URL, url.absoluteString.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  // A time-out that is not a positive number means the default; a huge one is capped.
  constexpr double kDefaultTimeout = 30.0, kMaxTimeout = 24 * 3600.0;
  double timeout = timeoutSeconds > 0 ? std::min(timeoutSeconds, kMaxTimeout) : kDefaultTimeout;
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout * 1000));
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https,file");
  CURLcode code = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  result.statusCode = status;
  if (code != CURLE_OK) {
    std::string text = errorText[0] ? errorText : curl_easy_strerror(code);
    result.error = std::make_shared<NSError>(NSURLErrorDomain, -static_cast<long>(code), text);
  } else if (status >= 400) {
    result.error = std::make_shared<NSError>(NSURLErrorDomain, -1011,
                                             "The server answered with status " + std::to_string(status));
  } else {
    result.data = std::move(body);
  }
  return result;
}
