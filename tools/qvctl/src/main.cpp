// qvctl: the desktop side of the agent's two servers.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <algorithm>
#include <atomic>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvctl/AiExport.h"
#include "qvctl/Connection.h"
#include "qvctl/Export.h"
#include "qvctl/JUnit.h"
#include "qvctl/Recording.h"
#include "qvctl/Replay.h"
#include "qvctl/Request.h"
#include "qvctl/WebDriver.h"

namespace {

using namespace qvctl;

constexpr const char* kUsage = R"(usage: qvctl [options] <command> [arguments]

Playback (port 9898; one request, one reply printed on stdout):
  qvctl play '<json>'          send a request such as
                               '{"functionname":"findelements","accessortype":"text","accessorvalue":"Log In"}'
%s
  Each playback command is a connection of its own. The playback server listens
  again about a second after a client has left; qvctl waits up to 2 s for that.

Recorder (port 9892):
  qvctl record                 print every recorded step and spy list on stdout as
                               one line of JSON (JSON Lines, ready to save as a
                               recording) until interrupted; the greeting and any
                               frame that is not JSON go to stderr. Lines typed on
                               stdin are sent as commands (startobjectspy,
                               stopobjectspy, highlight=N)
  qvctl spy start|stop         send "startobjectspy" / "stopobjectspy"
  qvctl highlight N            send "highlight=N" (N = 0: the last view the spy stored)

  The recorder port serves one client for the life of the application and never
  listens again once that client has left (a playback request closes it too). A
  separate connection per command therefore ends recording: keep one `qvctl record`
  session open and type the commands into it, or add --follow to `spy`/`highlight`
  to stay connected and keep printing frames.

Replay (port 9898):
  qvctl replay FILE...         play recordings (JSON Lines as `qvctl record` writes
                               them, plus assertion lines) step by step: each element
                               is waited for by its position xpath, else by its text
                               and class, until the screen has settled, then clicked,
                               typed into, switched to the recorded state or checked;
                               one line per step. Recordings that do not parse are
                               reported by line number and nothing is played.
  --keep-going                 play the remaining steps after a failed one
  --json                       print the step results as JSON Lines
  --junit REPORT               write a JUnit XML report (one test case per recording);
                               a failed step's screen is saved beside it as
                               RECORDING-stepN.jpg
  --timeout S                  with replay: how long a step waits for its element or
                               an assertion for its condition (default 5)
  --webdriver URL              play through a W3C WebDriver endpoint instead of the
                               agent's port (qvdriver, or a Selenium Grid hub), one
                               session per recording, deleted after it (no screens
                               are saved for failed steps this way)
  --capabilities JSON          with --webdriver: capabilities of each new session,
                               added to {"platformName": "quorvel"}
  --jobs N                     with --webdriver: play N recordings at once, each in
                               its own session (a hub spreads them over its devices);
                               step lines then start with the recording's name

Export:
  qvctl export --to webdriverio|python FILE
                               write the recording as a test that runs on its own
                               through a WebDriver endpoint: a WebdriverIO module for
                               `node`, or a Python script for the Selenium bindings.
                               Each step finds, waits for and acts on or checks its
                               element as replay does, and a failure names the step
  -o OUT                       write the test to OUT instead of stdout
  --webdriver URL              the endpoint the test talks to (default
                               http://127.0.0.1:4723, qvdriver's)
  --capabilities JSON          added to the test's session capabilities,
                               {"platformName": "quorvel"}
  --timeout S                  how long each step waits (default 5)

Options:
  --host H       server address (default 127.0.0.1)
  --port P       port (default 9898 for playback commands, 9892 for recorder commands)
  --timeout S    seconds to wait for the connection and for a reply (default 10)
  --follow       after `spy`/`highlight`, stay connected and print frames like `record`
  --images       with `ai-find`, keep each element's Base64 JPEG ("imageBase64")
  --pretty       print recorded frames as indented JSON instead of one line each
  -h, --help     this text

Exit status: 0 on success, 1 when nothing listens, the reply times out or is not
a frame (ten digits, then that many bytes) or, for `snapshot`, holds no image (the
agent's exception message is printed), when a replayed step fails or a recording
cannot be read, 2 on a usage error.
)";

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;
  std::optional<double> timeoutSeconds;
  bool follow = false;
  bool images = false;
  bool pretty = false;
  bool keepGoing = false;
  bool json = false;
  std::string junit;
  std::string webdriver;
  std::string capabilities;
  int jobs = 1;
  std::string exportTo;
  std::string output;
  std::vector<std::string> words;
};

[[noreturn]] void usageError(const std::string& message) {
  std::fprintf(stderr, "qvctl: %s (see qvctl --help)\n", message.c_str());
  std::exit(2);
}

// A whole number from min to max, or a usage error naming it as `what`.
int wholeNumber(const std::string& text, long min, long max, const std::string& what) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || n < min || n > max) usageError("bad " + what + " \"" + text + "\"");
  return static_cast<int>(n);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> std::string {
      if (i + 1 >= argc) usageError(std::string(name) + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      std::printf(kUsage, convenienceCommandsHelp().c_str());
      std::exit(0);
    } else if (a == "--host") {
      o.host = value("--host");
    } else if (a == "--port") {
      o.port = wholeNumber(value("--port"), 1, 65535, "port");
    } else if (a == "--timeout") {
      std::string v = value("--timeout");
      char* end = nullptr;
      double t = std::strtod(v.c_str(), &end);
      if (*end || !(t > 0)) usageError("bad timeout \"" + v + "\"");
      o.timeoutSeconds = t;
    } else if (a == "--follow") {
      o.follow = true;
    } else if (a == "--images") {
      o.images = true;
    } else if (a == "--pretty") {
      o.pretty = true;
    } else if (a == "--keep-going") {
      o.keepGoing = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--junit") {
      o.junit = value("--junit");
    } else if (a == "--webdriver") {
      o.webdriver = value("--webdriver");
    } else if (a == "--capabilities") {
      o.capabilities = value("--capabilities");
    } else if (a == "--to") {
      o.exportTo = value("--to");
    } else if (a == "-o") {
      o.output = value("-o");
    } else if (a == "--jobs") {
      o.jobs = wholeNumber(value("--jobs"), 1, 64, "number of jobs");
    } else {
      o.words.push_back(a);
    }
  }
  if (o.words.empty()) usageError("no command");
  return o;
}

std::chrono::milliseconds timeoutOf(const Options& o) {
  return std::chrono::milliseconds(static_cast<long long>(o.timeoutSeconds.value_or(10) * 1000));
}

std::uint16_t portOf(const Options& o, std::uint16_t fallback) {
  return o.port ? static_cast<std::uint16_t>(o.port) : fallback;
}

// The playback server takes a second to listen again after each client, so a
// command right after another one waits for it that long.
constexpr std::chrono::milliseconds kPlayBackRelistenWait{2000};

std::string exchange(const Options& o, const std::string& requestJson) {
  Connection connection(o.host, portOf(o, kPlayBackPort), timeoutOf(o), kPlayBackRelistenWait);
  return playRequest(connection, requestJson, Clock::now() + timeoutOf(o));
}

int printReply(const std::string& reply) {
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int play(const Options& o, const std::string& requestJson) { return printReply(exchange(o, requestJson)); }

void writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw Error("cannot write " + path + ": " + std::strerror(errno));
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) throw Error("cannot write " + path + ": " + std::strerror(errno));
}

void printFrame(const std::string& payload, bool pretty) {
  if (payload.starts_with(kRecorderGreetingPrefix)) {
    std::fprintf(stderr, "%s\n", payload.c_str());
    return;
  }
  auto text = pretty ? indentedRecordingText(payload) : recordingLine(payload);
  if (!text) {
    // Standard output stays a valid recording.
    std::fprintf(stderr, "qvctl: a frame that is not JSON: %s\n", payload.c_str());
    return;
  }
  std::fwrite(text->data(), 1, text->size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Prints every frame and forwards stdin lines as commands until the server closes
// the connection (or the process is interrupted).
int follow(Connection& connection, bool pretty) {
  bool stdinOpen = true;
  std::string typed;
  for (;;) {
    pollfd fds[2] = {{connection.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    int n = ::poll(fds, stdinOpen ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error(std::string("poll failed: ") + std::strerror(errno));
    }
    if (fds[0].revents) {
      bool open = connection.readAvailable();
      while (auto payload = connection.nextBufferedFrame()) printFrame(*payload, pretty);
      if (!open) {
        connection.finishReading();
        std::fprintf(stderr, "qvctl: %s closed the recorder connection\n", connection.peer().c_str());
        return 0;
      }
    }
    if (stdinOpen && fds[1].revents) {
      char buffer[4096];
      ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (got <= 0) {
        stdinOpen = false;  // keep printing frames
        continue;
      }
      typed.append(buffer, static_cast<std::size_t>(got));
      std::size_t newline;
      while ((newline = typed.find('\n')) != std::string::npos) {
        std::string line = typed.substr(0, newline);
        typed.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) connection.sendLine(line, Clock::now() + std::chrono::seconds(10));
      }
    }
  }
}

int recorderCommand(const Options& o, const std::string& command) {
  Connection connection(o.host, portOf(o, kRecorderPort), timeoutOf(o));
  connection.sendLine(command, Clock::now() + timeoutOf(o));
  return o.follow ? follow(connection, o.pretty) : 0;
}

int replayCommand(const Options& o, const std::vector<std::string>& files) {
  if (files.empty()) usageError("usage: qvctl replay FILE...");
  if (o.webdriver.empty() && (o.jobs > 1 || !o.capabilities.empty())) {
    usageError("--jobs and --capabilities go with --webdriver (the agent's port serves one client)");
  }
  if (!o.webdriver.empty()) {
    try {
      WebDriverSession(o.webdriver, o.capabilities, std::chrono::seconds(1));
    } catch (const Error& e) {
      usageError(e.what());
    }
  }
  if (!o.junit.empty()) {
    // A report that cannot be written is said before anything is played.
    std::FILE* report = std::fopen(o.junit.c_str(), "a");
    if (!report) throw Error("cannot write the report " + o.junit + ": " + std::strerror(errno));
    std::fclose(report);
  }
  std::vector<RecordingRun> runs;
  bool readable = true;
  for (const auto& file : files) {
    RecordingRun run;
    run.file = file;
    run.recording.name = std::filesystem::path(file).stem().string();
    try {
      run.recording = readRecording(file);
    } catch (const RecordingError& e) {
      run.problems = e.problems();
    } catch (const Error& e) {
      run.problems = {e.what()};
    }
    if (!run.problems.empty()) {
      std::string text;
      for (const auto& problem : run.problems) text += problem + "\n";
      std::fprintf(stderr, "qvctl: %s cannot be played:\n%s", file.c_str(), text.c_str());
      readable = false;
    }
    runs.push_back(std::move(run));
  }
  if (!readable) {
    // Nothing is played; the report still says which recordings are broken.
    if (!o.junit.empty()) {
      for (auto& run : runs) {
        if (run.problems.empty()) run.skipped = "not played: another recording cannot be played";
      }
      writeFile(o.junit, junitReport(runs));
    }
    return 1;
  }

  const auto stepTimeout = std::chrono::milliseconds(static_cast<long long>(o.timeoutSeconds.value_or(5) * 1000));
  const auto requestTimeout = std::max(stepTimeout, std::chrono::milliseconds(10000));
  // The agent's port serves one client: one connection for every recording. A
  // WebDriver endpoint gets a session of its own per recording.
  std::unique_ptr<PlaybackSession> agent;
  std::string snapshotDir;
  if (o.webdriver.empty()) {
    agent = std::make_unique<PlaybackSession>(o.host, portOf(o, kPlayBackPort), requestTimeout);
    // Screens of failed steps go beside the report.
    if (!o.junit.empty()) {
      std::filesystem::path folder = std::filesystem::path(o.junit).parent_path();
      snapshotDir = folder.empty() ? std::string(".") : folder.string();
    }
  }
  std::mutex printing;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> allPassed{true};
  auto playRun = [&](RecordingRun& run) {
    std::unique_ptr<WebDriverSession> own;
    StepDriver* driver = agent.get();
    if (!driver) driver = (own = std::make_unique<WebDriverSession>(o.webdriver, o.capabilities, requestTimeout)).get();
    try {
      driver->open();
    } catch (const Error&) {
      // Said by each step that cannot be played.
    }
    ReplayOptions options;
    options.keepGoing = o.keepGoing;
    options.timeout = stepTimeout;
    options.snapshotDir = snapshotDir;
    options.onStep = [&](const StepResult& result) {
      std::string line = o.json ? resultJson(run.recording.name, result) : resultLine(result);
      if (o.jobs > 1 && !o.json) line = run.recording.name + ": " + line;
      std::lock_guard lock(printing);
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    };
    const auto started = Clock::now();
    run.results = replay(run.recording, [&](const Request& r) { return driver->play(r); }, options);
    run.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    if (own) own->close();  // the device is free for the next session at once
    std::size_t passed = 0;
    for (const auto& r : run.results) passed += r.passed ? 1 : 0;
    if (passed != run.recording.steps.size()) allPassed = false;
    std::lock_guard lock(printing);
    std::fprintf(stderr, "qvctl: %s: %zu of %zu steps passed\n", run.recording.name.c_str(), passed,
                 run.recording.steps.size());
  };
  auto worker = [&] {
    for (std::size_t i; (i = next++) < runs.size();) playRun(runs[i]);
  };
  const std::size_t jobs = agent ? 1 : std::min<std::size_t>(static_cast<std::size_t>(o.jobs), runs.size());
  std::vector<std::thread> workers;
  for (std::size_t j = 1; j < jobs; ++j) workers.emplace_back(worker);
  worker();
  for (auto& w : workers) w.join();
  if (!o.junit.empty()) writeFile(o.junit, junitReport(runs));
  return allPassed ? 0 : 1;
}

int exportCommand(const Options& o, const std::vector<std::string>& files) {
  if (files.size() != 1) usageError("usage: qvctl export --to webdriverio|python FILE [-o OUT]");
  auto language = exportLanguageNamed(o.exportTo);
  if (!language) usageError("export --to takes webdriverio or python, not \"" + o.exportTo + "\"");
  ExportOptions options;
  if (!o.webdriver.empty()) options.server = o.webdriver;
  options.capabilities = o.capabilities;
  if (o.timeoutSeconds) options.timeout = std::chrono::milliseconds(static_cast<long long>(*o.timeoutSeconds * 1000));
  try {
    sessionCapabilities(options.capabilities);
  } catch (const Error& e) {
    usageError(e.what());
  }
  options.source = std::filesystem::path(files[0]).filename().string();
  Recording recording;
  try {
    recording = readRecording(files[0]);
  } catch (const RecordingError& e) {
    std::fprintf(stderr, "qvctl: %s cannot be exported:\n%s\n", files[0].c_str(), e.what());
    return 1;
  }
  const std::string test = exportTest(recording, *language, options);
  if (o.output.empty()) {
    std::fwrite(test.data(), 1, test.size(), stdout);
  } else {
    writeFile(o.output, test);
  }
  return 0;
}

int run(const Options& o) {
  const std::string& word = o.words[0];
  std::vector<std::string> args(o.words.begin() + 1, o.words.end());
  if (word == "play") {
    if (args.size() != 1) usageError("usage: qvctl play '<json>'");
    return play(o, args[0]);
  }
  if (word == "replay") return replayCommand(o, args);
  if (word == "export") return exportCommand(o, args);
  if (word == "record") {
    if (!args.empty()) usageError("usage: qvctl record");
    Connection connection(o.host, portOf(o, kRecorderPort), timeoutOf(o));
    return follow(connection, o.pretty);
  }
  if (word == "spy") {
    if (args.size() != 1 || (args[0] != "start" && args[0] != "stop")) usageError("usage: qvctl spy start|stop");
    return recorderCommand(o, args[0] == "start" ? "startobjectspy" : "stopobjectspy");
  }
  if (word == "highlight") {
    if (args.size() != 1) usageError("usage: qvctl highlight N");
    char* end = nullptr;
    std::strtol(args[0].c_str(), &end, 10);
    if (args[0].empty() || *end) usageError("highlight needs a number, not \"" + args[0] + "\"");
    return recorderCommand(o, "highlight=" + args[0]);
  }
  Request request;
  try {
    request = requestForCommand(word, args);
  } catch (const Error& e) {
    usageError(e.what());
  }
  if (word == "snapshot") {
    // The JPEG is decoded before the file is opened, so a refusal leaves no file.
    writeFile(args[0], snapshotJPEG(exchange(o, buildRequest(request))));
    return 0;
  }
  if (word == "ai-find" && !o.images) return printReply(withoutImages(exchange(o, buildRequest(request))));
  return play(o, buildRequest(request));
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse(argc, argv);
  try {
    return run(options);
  } catch (const Error& e) {
    std::fprintf(stderr, "qvctl: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvctl: %s\n", e.what());
    return 1;
  }
}
