// qvdriver: a WebDriver endpoint for the application under test.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <thread>

#include "qvdriver/Server.h"

namespace {

constexpr const char* kUsage = R"(usage: qvdriver [options]

A WebDriver (W3C) endpoint: Selenium, WebdriverIO and Appium-style clients, or a
Selenium Grid relay node, drive the application under test through it. Each
session holds the playback connection (port 9898) of one device's agent; one
session at a time per device. Commands are answered at the root and under /wd/hub.

It has no authentication: anyone who reaches its port drives the devices it can
reach. It listens on 127.0.0.1 unless told otherwise, and answers only requests
whose Host names it (the listen address, localhost, 127.0.0.1, [::1], or an
--allowed-hosts name, with the port) and that no web page of another origin sent:
others get 403. POST bodies must be JSON of at most 16 MB (413 above).

Capabilities of New Session:
  platformName               "quorvel" (or absent)
  quorvel:host               the device's address (default: --device)
  quorvel:newCommandTimeout  seconds without commands after which the session
                             ends by itself, freeing the device (default 60;
                             0: never); appium:newCommandTimeout is read too
  appium:automationName      "Quorvel" (or absent)
  appium:deviceName          any name; reported back

Options:
  --listen ADDR         address to listen on (default 127.0.0.1)
  --port P              port to listen on (default 4723; 0 picks a free one)
  --device HOST         device of sessions that do not name one (default 127.0.0.1)
  --allowed-hosts LIST  comma-separated further host names clients reach this
                        endpoint by (a Grid node on another machine)
  --command-timeout S   seconds one playback command may take before its session
                        is given up (default 60)
  --quiet               no log line per request
  -h, --help            this text
)";

[[noreturn]] void usageError(const std::string& message) {
  std::fprintf(stderr, "qvdriver: %s (see qvdriver --help)\n", message.c_str());
  std::exit(2);
}

long number(const std::string& text, long min, long max, const char* what) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || value < min || value > max) usageError(std::string("bad ") + what + " \"" + text + "\"");
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string listen = "127.0.0.1";
  int port = 4723;
  bool quiet = false;
  qvdriver::DriverOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) usageError(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--listen") {
      listen = value("--listen");
    } else if (a == "--port") {
      port = static_cast<int>(number(value("--port"), 0, 65535, "port"));
    } else if (a == "--device") {
      options.defaultDevice = value("--device");
      if (options.defaultDevice.empty()) usageError("--device needs an address");
    } else if (a == "--allowed-hosts") {
      std::string list = value("--allowed-hosts");
      for (std::size_t start = 0; start <= list.size();) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string name = list.substr(start, comma - start);
        if (!name.empty()) options.allowedHosts.push_back(name);
        start = comma + 1;
      }
    } else if (a == "--command-timeout") {
      options.commandTimeout = std::chrono::seconds(number(value("--command-timeout"), 1, 86400, "timeout"));
    } else if (a == "--quiet") {
      quiet = true;
    } else {
      usageError("unknown option \"" + a + "\"");
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  // SIGINT and SIGTERM are taken by one thread that stops the server; every other
  // thread (started below) inherits the blocked set.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  qvdriver::Server server(options);
  if (!quiet) server.setLogger([](const std::string& line) { std::fprintf(stderr, "qvdriver: %s\n", line.c_str()); });
  int bound = 0;
  try {
    bound = server.bind(listen, port);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvdriver: %s\n", e.what());
    return 1;
  }
  std::thread stopper([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
  });
  std::printf("qvdriver listening on http://%s:%d\n", listen.c_str(), bound);
  std::fflush(stdout);
  server.serve();
  // Serving ends through the stopper; wake it should it still wait.
  pthread_kill(stopper.native_handle(), SIGTERM);
  stopper.join();
  return 0;
}
