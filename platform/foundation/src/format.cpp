#include "foundation/format.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>

namespace foundation {
namespace {

std::string describe(const FormatArg& arg) {
  switch (arg.kind) {
    case FormatArg::Kind::text:
      return arg.s;
    case FormatArg::Kind::null:
      return "(null)";
    case FormatArg::Kind::object:
      return arg.obj->description();
    case FormatArg::Kind::signedInt:
      return std::to_string(arg.i);
    case FormatArg::Kind::unsignedInt:
      return std::to_string(arg.u);
    case FormatArg::Kind::floating: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%g", arg.d);
      return buf;
    }
    case FormatArg::Kind::pointer: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%p", arg.p);
      return buf;
    }
  }
  return {};
}

// A floating value as an integer: truncated, NaN as 0, out-of-range values pinned
// to the nearest end (a plain conversion would be undefined for those).
std::int64_t doubleToSigned(double d) {
  if (std::isnan(d)) return 0;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  if (d >= 9223372036854775808.0) return INT64_MAX;
  return static_cast<std::int64_t>(d);
}

std::uint64_t doubleToUnsigned(double d) {
  if (d < 0) return static_cast<std::uint64_t>(doubleToSigned(d));
  if (std::isnan(d)) return 0;
  if (d >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(d);
}

std::int64_t asSigned(const FormatArg& a) {
  switch (a.kind) {
    case FormatArg::Kind::signedInt: return a.i;
    case FormatArg::Kind::unsignedInt: return static_cast<std::int64_t>(a.u);
    case FormatArg::Kind::floating: return doubleToSigned(a.d);
    default: return 0;
  }
}

std::uint64_t asUnsigned(const FormatArg& a) {
  switch (a.kind) {
    case FormatArg::Kind::signedInt: return static_cast<std::uint64_t>(a.i);
    case FormatArg::Kind::unsignedInt: return a.u;
    case FormatArg::Kind::floating: return doubleToUnsigned(a.d);
    default: return 0;
  }
}

// Field widths and precisions beyond this are taken as this: enough for any real
// layout, and an absurd one (say from a "*" argument) cannot exhaust memory.
constexpr std::int64_t kMaxFieldSize = 1 << 16;

std::string fieldSize(std::int64_t n) {
  return std::to_string(std::clamp<std::int64_t>(n, -kMaxFieldSize, kMaxFieldSize));
}

// Appends one printf conversion of one value, whatever the length of its output.
template <class T>
void appendFormatted(std::string& out, const std::string& conversion, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof small) {
    out.append(small, static_cast<std::size_t>(n));
    return;
  }
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), conversion.c_str(), value);
  out.append(big.data(), static_cast<std::size_t>(n));
}

// Appends the digits of a width or precision, capped at kMaxFieldSize.
std::size_t appendDigits(std::string_view format, std::size_t i, std::string& into) {
  std::size_t start = i;
  while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) ++i;
  std::string_view digits = format.substr(start, i - start);
  if (digits.empty()) return i;
  into += digits.size() > 5 || std::stol(std::string(digits)) > kMaxFieldSize ? std::to_string(kMaxFieldSize)
                                                                              : std::string(digits);
  return i;
}

double asDouble(const FormatArg& a) {
  switch (a.kind) {
    case FormatArg::Kind::signedInt: return static_cast<double>(a.i);
    case FormatArg::Kind::unsignedInt: return static_cast<double>(a.u);
    case FormatArg::Kind::floating: return a.d;
    default: return 0;
  }
}

// Narrows an integer to the width its length modifier names, as printf would.
std::uint64_t narrowUnsigned(std::uint64_t v, const std::string& length) {
  if (length == "hh") return static_cast<unsigned char>(v);
  if (length == "h") return static_cast<unsigned short>(v);
  if (length.empty()) return static_cast<unsigned int>(v);
  return v;
}

std::int64_t narrowSigned(std::int64_t v, const std::string& length) {
  if (length == "hh") return static_cast<signed char>(v);
  if (length == "h") return static_cast<short>(v);
  if (length.empty()) return static_cast<int>(v);
  return v;
}

}  // namespace

std::string formatWithArgs(std::string_view format, const std::vector<FormatArg>& args) {
  std::string out;
  out.reserve(format.size() + 16);
  std::size_t next = 0;
  const FormatArg none;
  auto take = [&]() -> const FormatArg& { return next < args.size() ? args[next++] : none; };

  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    std::size_t start = i++;
    if (i >= format.size()) {
      out += '%';
      break;
    }
    if (format[i] == '%') {
      out += '%';
      continue;
    }
    std::string flags, width, precision, length;
    while (i < format.size() && std::string_view("-+ #0'").find(format[i]) != std::string_view::npos) flags += format[i++];
    if (i < format.size() && format[i] == '*') {
      width = fieldSize(asSigned(take()));
      ++i;
    } else {
      i = appendDigits(format, i, width);
    }
    if (i < format.size() && format[i] == '.') {
      precision.assign(1, '.');
      ++i;
      if (i < format.size() && format[i] == '*') {
        std::int64_t p = asSigned(take());
        if (p < 0) {
          precision.clear();  // a negative precision counts as none
        } else {
          precision += fieldSize(p);
        }
        ++i;
      } else {
        i = appendDigits(format, i, precision);
      }
    }
    while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) length += format[i++];
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    char conv = format[i];
    flags.erase(std::remove(flags.begin(), flags.end(), '\''), flags.end());
    std::string spec;
    spec.reserve(32);
    spec.append(1, '%').append(flags).append(width).append(precision);
    auto conversion = [&spec](std::string_view suffix) {
      std::string full = spec;
      full.append(suffix);
      return full;
    };
    switch (conv) {
      case '@':
      case 's': {
        std::string text = describe(take());
        if (!width.empty() || !precision.empty()) {
          appendFormatted(out, conversion("s"), text.c_str());
        } else {
          out += text;
        }
        break;
      }
      case 'd':
      case 'i': {
        appendFormatted(out, conversion(PRId64), narrowSigned(asSigned(take()), length));
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        const char* fmt = conv == 'u' ? PRIu64 : conv == 'x' ? PRIx64 : conv == 'X' ? PRIX64 : PRIo64;
        appendFormatted(out, conversion(fmt), narrowUnsigned(asUnsigned(take()), length));
        break;
      }
      case 'c': {
        appendFormatted(out, conversion("c"), static_cast<int>(asSigned(take())));
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        appendFormatted(out, conversion(std::string_view(&conv, 1)), asDouble(take()));
        break;
      }
      case 'p': {
        const FormatArg& a = take();
        const void* p = a.kind == FormatArg::Kind::pointer ? a.p
                        : a.kind == FormatArg::Kind::object ? static_cast<const void*>(a.obj.get())
                                                            : nullptr;
        appendFormatted(out, conversion("p"), p);
        break;
      }
      default:
        out.append(format.substr(start, i - start + 1));
        break;
    }
  }
  return out;
}

}  // namespace foundation
