// Case mapping of texts as the platform's strings do it: full Unicode, without
// regard to the user's locale.
#pragma once

#include <string>
#include <string_view>

namespace foundation {

// The lower-case form of a UTF-8 text ("ÉCOLE" gives "école"). Text that is not
// valid UTF-8 has only its ASCII letters lower-cased; its other bytes stay as they
// are.
std::string lowercaseString(std::string_view text);
// Whether lowercaseString(text) equals `lowerCase`; an ASCII text is compared in
// place, without making its lower-case form.
bool lowercaseEquals(std::string_view text, std::string_view lowerCase);

}  // namespace foundation
