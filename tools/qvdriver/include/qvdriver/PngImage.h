// JPEG to PNG, for screenshots: the agent sends JPEG, WebDriver clients expect PNG.
#pragma once

#include <string>

namespace qvdriver {

// The PNG bytes of the JPEG image `jpeg`; throws DriverError (unknown error) when
// `jpeg` is not a JPEG image it can decode.
std::string pngFromJPEG(const std::string& jpeg);

}  // namespace qvdriver
