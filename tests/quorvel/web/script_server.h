// The installed page scripts served over HTTP on 127.0.0.1, with a count of the
// requests for each file; files can be made to fail (404).
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "http_server.h"

namespace qvtest {

class ScriptServer {
 public:
  explicit ScriptServer(std::filesystem::path root)
      : root_(std::move(root)), server_([this](const std::string& path) { return serve(path); }) {}

  std::string url() const { return server_.url(); }
  int requests(const std::string& file) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(file);
    return it == counts_.end() ? 0 : it->second;
  }
  int totalRequests() const { return server_.requests(); }
  void setFailing(const std::string& file, bool failing) {
    std::lock_guard lock(mutex_);
    if (failing) {
      failing_.insert(file);
    } else {
      failing_.erase(file);
    }
  }

 private:
  std::optional<HttpReply> serve(const std::string& path) {
    const std::string file = path.substr(path.find_last_of('/') + 1);
    {
      std::lock_guard lock(mutex_);
      ++counts_[file];
      if (failing_.count(file)) return HttpReply{404, ""};
    }
    std::ifstream in(root_ / file, std::ios::binary);
    if (!in) return HttpReply{404, ""};
    std::stringstream body;
    body << in.rdbuf();
    return HttpReply{200, body.str(), "application/javascript"};
  }

  std::filesystem::path root_;
  mutable std::mutex mutex_;
  std::map<std::string, int> counts_;
  std::set<std::string> failing_;
  HttpServer server_;  // last: it serves until it is destroyed, first
};

}  // namespace qvtest
