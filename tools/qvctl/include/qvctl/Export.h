// A recording written out as a test that runs on its own against a WebDriver
// endpoint (qvdriver, or a Selenium Grid hub): a WebdriverIO module for Node or a
// Python script for the Selenium bindings. Each step finds, waits for, acts on or
// checks its element as `qvctl replay --webdriver` does, and a failure names the
// step in replay's words ("step N (line L): ...").
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "qvctl/Replay.h"

namespace qvctl {

enum class ExportLanguage { webdriverio, python };

// "webdriverio" or "python"; absent for any other name.
std::optional<ExportLanguage> exportLanguageNamed(std::string_view name);

struct ExportOptions {
  // The WebDriver endpoint the test talks to.
  std::string server = "http://127.0.0.1:4723";
  // A JSON object added to the session capabilities replay asks for; empty: none.
  std::string capabilities;
  // How long a step waits for its element (and an assertion for its condition).
  std::chrono::milliseconds timeout = ReplayOptions{}.timeout;
  // What the test was made from, named in its header; empty: the recording's name.
  std::string source;
};

// The test's source text. Throws Error when the capabilities are not a JSON object.
std::string exportTest(const Recording& recording, ExportLanguage language, const ExportOptions& options = {});

}  // namespace qvctl
