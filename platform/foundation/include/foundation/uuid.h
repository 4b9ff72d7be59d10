#pragma once

#include <string>

namespace NSUUID {
// A new random UUID in its canonical upper-case form (8-4-4-4-12 hex digits).
std::string UUIDString();
}  // namespace NSUUID
