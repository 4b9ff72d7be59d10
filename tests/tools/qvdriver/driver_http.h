// A WebDriver client for qvdriver's tests: commands over HTTP with their status and
// JSON reply, and the helpers that read element references out of replies.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

namespace qvtest {

struct DriverReply {
  int status = 0;  // 0 when no HTTP reply came
  nlohmann::json body;

  const nlohmann::json& value() const { return body["value"]; }
  // The error word of an error reply, "" for a success.
  std::string error() const {
    return body.is_object() && body["value"].is_object() ? body["value"].value("error", "") : "";
  }
};

class DriverHttp {
 public:
  explicit DriverHttp(int port) : client_("127.0.0.1", port) {
    client_.set_read_timeout(120, 0);
    client_.set_tcp_nodelay(true);
  }

  DriverReply call(const std::string& method, const std::string& path, const std::string& body = "{}") {
    httplib::Result result = method == "GET"      ? client_.Get(path)
                             : method == "DELETE" ? client_.Delete(path)
                                                  : client_.Post(path, body, "application/json; charset=utf-8");
    if (!result) return {};
    return {result->status, nlohmann::json::parse(result->body, nullptr, false)};
  }
  DriverReply post(const std::string& path, const nlohmann::json& body) { return call("POST", path, body.dump()); }
  DriverReply get(const std::string& path) { return call("GET", path); }

 private:
  httplib::Client client_;
};

// The element ID of a {"element-6066-…": id} reference ("" for anything else).
inline std::string elementId(const nlohmann::json& reference) {
  constexpr const char* kKey = "element-6066-11e4-a52e-4f735466cecf";
  return reference.is_object() && reference.contains(kKey) ? reference[kKey].get<std::string>() : "";
}

}  // namespace qvtest
