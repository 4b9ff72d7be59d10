// String formatting with the platform's format language: printf conversions plus
// "%@", which prints an object's description, a text, or "(null)" for an absent one.
// Arguments are taken by type, so a mismatch between a conversion and its argument
// converts instead of misbehaving, and missing arguments print as empty or 0.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "objc/runtime.h"

namespace foundation {

struct FormatArg {
  enum class Kind { signedInt, unsignedInt, floating, text, null, pointer, object };
  Kind kind = Kind::null;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  std::string s;
  const void* p = nullptr;
  std::shared_ptr<const objc::Object> obj;

  FormatArg() = default;
  FormatArg(std::nullptr_t) {}
  FormatArg(bool v) : kind(Kind::signedInt), i(v ? 1 : 0) {}
  FormatArg(const char* v) : kind(v ? Kind::text : Kind::null), s(v ? v : "") {}
  FormatArg(const std::string& v) : kind(Kind::text), s(v) {}
  FormatArg(std::string_view v) : kind(Kind::text), s(v) {}
  FormatArg(const std::optional<std::string>& v) : kind(v ? Kind::text : Kind::null), s(v ? *v : "") {}
  FormatArg(const void* v) : kind(Kind::pointer), p(v) {}
  template <class T, std::enable_if_t<std::is_base_of_v<objc::Object, T>, int> = 0>
  FormatArg(const std::shared_ptr<T>& v) : kind(v ? Kind::object : Kind::null), obj(v) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  FormatArg(T v) {
    if constexpr (std::is_signed_v<T>) {
      kind = Kind::signedInt;
      i = v;
    } else {
      kind = Kind::unsignedInt;
      u = v;
    }
  }
  template <class T, std::enable_if_t<std::is_enum_v<T>, int> = 0>
  FormatArg(T v) : kind(Kind::signedInt), i(static_cast<std::int64_t>(v)) {}
  template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
  FormatArg(T v) : kind(Kind::floating), d(static_cast<double>(v)) {}
};

std::string formatWithArgs(std::string_view format, const std::vector<FormatArg>& args);

}  // namespace foundation

// [NSString stringWithFormat:]
template <class... Args>
std::string NSStringWithFormat(std::string_view format, const Args&... args) {
  return foundation::formatWithArgs(format, std::vector<foundation::FormatArg>{foundation::FormatArg(args)...});
}
