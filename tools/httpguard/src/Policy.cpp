// Who may talk to a guarded server: the Host values that name it, the origin a
// browser must say, and the bodies it takes.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

#include "httpguard/HttpGuard.h"

namespace httpguard {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isIPv6(const std::string& host) {
  in6_addr address;
  return ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

bool isLoopback(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4;
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// A host as the Host header writes it: IPv6 addresses in brackets.
std::string hostName(const std::string& host) {
  std::string name = lowered(host);
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') return name;
  return isIPv6(name) ? "[" + name + "]" : name;
}

// The addresses of the machine's interfaces (link-local IPv6 ones left out: a
// Host header cannot name their zone).
std::vector<std::string> ownAddresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = "";
    if (entry->ifa_addr->sa_family == AF_INET) {
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* v6 = reinterpret_cast<sockaddr_in6*>(entry->ifa_addr);
      if (IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) continue;
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    }
    if (*text) addresses.push_back(text);
  }
  ::freeifaddrs(list);
  return addresses;
}

bool carriesBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

Refusal refusal(Reason reason, std::string message) {
  static constexpr int kStatus[] = {403, 403, 411, 413, 400};
  return {reason, kStatus[static_cast<int>(reason)], std::move(message)};
}

std::optional<Refusal> checkBody(const httplib::Request& request, const Options& options) {
  if (request.has_header("Transfer-Encoding")) {
    return refusal(Reason::lengthRequired, "refused: send the body with a Content-Length, not in chunks");
  }
  const std::size_t lengths = request.get_header_value_count("Content-Length");
  if (lengths > 1) return refusal(Reason::badRequest, "refused: several Content-Length headers");
  std::size_t length = 0;
  if (lengths == 1) {
    const std::string text = trimmed(request.get_header_value("Content-Length"));
    if (text.empty() || text.size() > 18 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
      return refusal(Reason::badRequest, "refused: Content-Length \"" + text + "\" is not a length");
    }
    length = std::stoull(text);
  }
  if (!carriesBody(request.method)) {
    if (length > 0) return refusal(Reason::badRequest, "refused: a " + request.method + " request carries no body");
    return std::nullopt;
  }
  if (lengths == 0 && request.method != "DELETE") {
    return refusal(Reason::lengthRequired, "refused: a " + request.method + " request needs a Content-Length");
  }
  auto special = options.maxBodyByPath.find(request.path);
  const std::size_t limit = special != options.maxBodyByPath.end() ? special->second : options.maxBody;
  if (length > limit) {
    return refusal(Reason::bodyTooLarge, "refused: a body of " + std::to_string(length) +
                                             " bytes is above the limit of " + std::to_string(limit) + " bytes");
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> acceptedHosts(const ListenAddress& listen, const std::vector<std::string>& allowedHosts) {
  std::vector<std::string> names = {hostName(listen.host), "localhost", "127.0.0.1", "[::1]"};
  const std::string host = lowered(listen.host);
  if (!isLoopback(host)) {
    for (const auto& address : ownAddresses()) names.push_back(hostName(address));
  }
  for (const auto& name : allowedHosts) names.push_back(hostName(trimmed(name)));

  std::vector<std::string> hosts;
  auto add = [&](const std::string& value) {
    if (std::find(hosts.begin(), hosts.end(), value) == hosts.end()) hosts.push_back(value);
  };
  for (const auto& name : names) {
    if (name.empty()) continue;
    add(name + ":" + std::to_string(listen.port));
    if (listen.port == 80) add(name);
  }
  return hosts;
}

std::optional<Refusal> check(const httplib::Request& request, const std::vector<std::string>& accepted,
                             const Options& options) {
  const std::string host = lowered(trimmed(request.get_header_value("Host")));
  if (request.get_header_value_count("Host") != 1 ||
      std::find(accepted.begin(), accepted.end(), host) == accepted.end()) {
    return refusal(Reason::foreignHost, "refused: Host \"" + request.get_header_value("Host") +
                                            "\" does not name this server");
  }
  // Browsers send Origin with every request a page makes to another origin (and
  // with a page's own POSTs); it must then be this server itself.
  if (request.has_header("Origin")) {
    const std::string origin = request.get_header_value("Origin");
    if (request.get_header_value_count("Origin") != 1 || lowered(trimmed(origin)) != "http://" + host) {
      return refusal(Reason::foreignOrigin, "refused: Origin \"" + origin + "\" is not this server");
    }
  }
  // Sent by browsers with every request, also those that carry no Origin (images,
  // links, form posts of other sites).
  const std::string site = lowered(trimmed(request.get_header_value("Sec-Fetch-Site")));
  if (site == "cross-site" || site == "same-site") {
    return refusal(Reason::foreignOrigin, "refused: the browser says another site sent it (Sec-Fetch-Site " +
                                              site + ")");
  }
  return checkBody(request, options);
}

}  // namespace httpguard
