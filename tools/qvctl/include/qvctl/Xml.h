// Text for XML documents the tools write (JUnit reports, page sources).
#pragma once

#include <string>
#include <string_view>

namespace qvctl {

// Markup characters escaped, line breaks and tabs kept as character references (so
// that attribute values keep them too), other control characters, which XML 1.0
// cannot hold, left out. Good for element text and double-quoted attributes.
std::string xmlEscaped(std::string_view text);

}  // namespace qvctl
