// URLs and synchronous fetching (http, https, file).
#pragma once

#include <optional>
#include <string>

#include "foundation/data.h"
#include "foundation/error.h"

struct NSURL {
  std::string absoluteString;
  std::string scheme;
  // Absent when the text is not a valid absolute URL.
  static std::optional<NSURL> URLWithString(const std::string& text);
};

struct NSURLFetchResult {
  std::optional<NSData> data;  // present on success
  NSErrorPtr error;            // present on failure
  long statusCode = 0;         // HTTP status, 0 for file://
};

// Fetches the resource synchronously. Failures (unreachable host, missing file,
// HTTP status 400 or above, time-out) come back as an error, never as an exception.
NSURLFetchResult NSURLFetchSynchronously(const NSURL& url, double timeoutSeconds = 30.0);
