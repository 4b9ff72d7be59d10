// qvstudio: a local web page for recording, spying on and replaying the
// application through the agent.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "Routes.h"
#include "Studio.h"

namespace {

constexpr const char* kUsage = R"(usage: qvstudio [options]

Serves the studio page: the device screen to use with the mouse and keyboard, the
recorded steps as they arrive (with their element images), the object spy, Open and
Save (the recording as JSON Lines, for `qvctl replay`), step edits and Replay.

With --app the studio runs the application itself and starts it again on request
(a replay ends the recorder session of a run: "Record again" starts a new one); it
ends the application when it ends. Without it, the studio works beside an
application someone else started.

The studio has NO AUTHENTICATION: anything that can reach its address can drive the
device. It listens on 127.0.0.1 unless told otherwise, and refuses requests whose
Host or Origin header names another site (so that web pages cannot drive it): the
Host must be the listen address or a loopback name of it (for a wildcard or
non-loopback address also one of the machine's own addresses), with the port.
Bodies above 1 MB are refused unread.

Options:
  --listen HOST:PORT   address to serve on (default 127.0.0.1:9980; port 0: any free port)
  --app 'COMMAND ...'  run the application: its words split as a shell would, without
                       a shell (quotes and backslashes work, nothing else); its device
                       input gets a free port (or --device-port) in QUORVEL_DEVICE_PORT
  --agent HOST         host of the agent and of the device input (default 127.0.0.1)
  --device-port P      port of the device input (default 9900; with --app a free one)
  --web DIR            the page's files (default: share/qvstudio beside the binary's folder)
  -h, --help           this text
)";

[[noreturn]] void usageError(const std::string& message) {
  std::fprintf(stderr, "qvstudio: %s (see qvstudio --help)\n", message.c_str());
  std::exit(2);
}

int portNumber(const std::string& text, bool allowZero) {
  char* end = nullptr;
  long port = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || port < (allowZero ? 0 : 1) || port > 65535) usageError("bad port \"" + text + "\"");
  return static_cast<int>(port);
}

// A port nothing listens on now, for the device input of the application the
// studio runs; it keeps it for every run.
int freeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string defaultWebDir() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "share/qvstudio";
  self[n] = '\0';
  return (std::filesystem::path(self).parent_path().parent_path() / "share" / "qvstudio").string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string listenHost = "127.0.0.1";
  int listenPort = 9980;
  studio::StudioOptions options;
  std::string webDir = defaultWebDir();
  bool devicePortGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usageError(a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--listen") {
      std::string v = value();
      auto colon = v.rfind(':');
      if (colon == std::string::npos || colon == 0) usageError("--listen needs HOST:PORT");
      listenHost = v.substr(0, colon);
      if (listenHost.size() > 2 && listenHost.front() == '[' && listenHost.back() == ']') {
        listenHost = listenHost.substr(1, listenHost.size() - 2);
      }
      listenPort = portNumber(v.substr(colon + 1), true);
    } else if (a == "--agent") {
      options.agentHost = value();
    } else if (a == "--device-port") {
      options.devicePort = static_cast<std::uint16_t>(portNumber(value(), false));
      devicePortGiven = true;
    } else if (a == "--app") {
      try {
        options.appCommand = studio::splitCommand(value());
      } catch (const std::invalid_argument& e) {
        usageError(std::string("--app: ") + e.what());
      }
    } else if (a == "--web") {
      webDir = value();
    } else {
      usageError("unknown argument \"" + a + "\"");
    }
  }
  if (!std::filesystem::is_regular_file(std::filesystem::path(webDir) / "index.html")) {
    std::fprintf(stderr, "qvstudio: the page's files are not in %s\n", webDir.c_str());
    return 1;
  }

  if (!options.appCommand.empty()) {
    if (!devicePortGiven) {
      const int port = freeLoopbackPort();
      if (port <= 0) {
        std::fprintf(stderr, "qvstudio: no free port for the application's device input\n");
        return 1;
      }
      options.devicePort = static_cast<std::uint16_t>(port);
    }
    // The port file of whoever started the studio is not the application's to write.
    options.appEnvironment = {{"QUORVEL_DEVICE_PORT", std::to_string(options.devicePort)},
                              {"QUORVEL_DEVICE_PORT_FILE", ""}};
  }

  // SIGINT, SIGTERM and SIGHUP end the server from a thread of their own (and with
  // it the application the studio runs).
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  studio::Studio studio(options);
  httpguard::Server server(studio::guardOptions());
  const int port = server.bindTo(listenHost, listenPort);
  if (port <= 0) {
    std::fprintf(stderr, "qvstudio: cannot listen on %s:%d\n", listenHost.c_str(), listenPort);
    return 1;
  }
  studio::configureServer(server, studio, webDir);
  const bool ipv6 = listenHost.find(':') != std::string::npos;
  std::printf("qvstudio: http://%s:%d/ (no authentication; stop with Ctrl-C)\n",
              (ipv6 ? "[" + listenHost + "]" : listenHost).c_str(), port);
  if (!options.appCommand.empty()) {
    std::printf("qvstudio: running the application, device input on %s:%d\n", options.agentHost.c_str(),
                options.devicePort);
  }
  std::printf("qvstudio ready\n");
  std::fflush(stdout);

  std::thread stopper([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    server.stop();
  });
  server.listen_after_bind();
  ::kill(::getpid(), SIGTERM);  // ends the stopper when the server ended by itself
  stopper.join();
  return 0;
}
