#include "foundation/format.h"

#include <cinttypes>
#include <algorithm>
#include <cctype>
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

std::int64_t asSigned(const FormatArg& a) {
  switch (a.kind) {
    case FormatArg::Kind::signedInt: return a.i;
    case FormatArg::Kind::unsignedInt: return static_cast<std::int64_t>(a.u);
    case FormatArg::Kind::floating: return static_cast<std::int64_t>(a.d);
    default: return 0;
  }
}

std::uint64_t asUnsigned(const FormatArg& a) {
  switch (a.kind) {
    case FormatArg::Kind::signedInt: return static_cast<std::uint64_t>(a.i);
    case FormatArg::Kind::unsignedInt: return a.u;
    case FormatArg::Kind::floating: return static_cast<std::uint64_t>(a.d);
    default: return 0;
  }
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
    while (i < format.size() && (std::isdigit(static_cast<unsigned char>(format[i])) || format[i] == '*')) {
      if (format[i] == '*') {
        width += std::to_string(asSigned(take()));
        ++i;
      } else {
        width += format[i++];
      }
    }
    if (i < format.size() && format[i] == '.') {
      precision.assign(1, '.');
      ++i;
      while (i < format.size() && (std::isdigit(static_cast<unsigned char>(format[i])) || format[i] == '*')) {
        if (format[i] == '*') {
          precision += std::to_string(asSigned(take()));
          ++i;
        } else {
          precision += format[i++];
        }
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
    char buf[512];
    switch (conv) {
      case '@': {
        std::string text = describe(take());
        if (!width.empty() || !precision.empty()) {
          std::vector<char> big(text.size() + 256);
          std::snprintf(big.data(), big.size(), conversion("s").c_str(), text.c_str());
          out += big.data();
        } else {
          out += text;
        }
        break;
      }
      case 's': {
        const FormatArg& a = take();
        std::string text = a.kind == FormatArg::Kind::null ? "(null)" : describe(a);
        std::vector<char> big(text.size() + 256);
        std::snprintf(big.data(), big.size(), conversion("s").c_str(), text.c_str());
        out += big.data();
        break;
      }
      case 'd':
      case 'i': {
        std::snprintf(buf, sizeof buf, conversion(PRId64).c_str(), narrowSigned(asSigned(take()), length));
        out += buf;
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        const char* fmt = conv == 'u' ? PRIu64 : conv == 'x' ? PRIx64 : conv == 'X' ? PRIX64 : PRIo64;
        std::snprintf(buf, sizeof buf, conversion(fmt).c_str(), narrowUnsigned(asUnsigned(take()), length));
        out += buf;
        break;
      }
      case 'c': {
        std::snprintf(buf, sizeof buf, conversion("c").c_str(), static_cast<int>(asSigned(take())));
        out += buf;
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
        std::snprintf(buf, sizeof buf, conversion(std::string_view(&conv, 1)).c_str(), asDouble(take()));
        out += buf;
        break;
      }
      case 'p': {
        const FormatArg& a = take();
        const void* p = a.kind == FormatArg::Kind::pointer ? a.p
                        : a.kind == FormatArg::Kind::object ? static_cast<const void*>(a.obj.get())
                                                            : nullptr;
        std::snprintf(buf, sizeof buf, conversion("p").c_str(), p);
        out += buf;
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
