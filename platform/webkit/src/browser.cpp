#include "webkit/Browser.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/log.h"

extern char** environ;

namespace webkit {

namespace {

constexpr const char* kDefaultExecutable = "/usr/bin/chromium";
constexpr const char* kProfilePrefix = "quorvel-chromium-";
constexpr std::chrono::seconds kStartTimeout{30};

// The flags of a browser that shows nothing and reaches no network of its own
// accord: on a closed network every background connection would be refused.
const std::vector<std::string>& browserFlags() {
  static const std::vector<std::string> flags = {
      "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-default-apps", "--disable-extensions", "--mute-audio", "--hide-scrollbars",
      "--remote-debugging-pipe"};
  return flags;
}

// Profiles of earlier applications that ended without removing theirs (killed):
// the directory name carries the owner's process id.
void removeAbandonedProfiles(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kProfilePrefix, 0) != 0) continue;
    const long owner = std::strtol(name.c_str() + std::strlen(kProfilePrefix), nullptr, 10);
    if (owner <= 0 || owner == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH) continue;
    std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

// The child process and the thread that started it. The parent-death signal fires
// when the thread that forked ends, so that thread lives as long as the browser:
// it waits for the browser to exit.
struct Browser::Process {
  std::mutex mutex;
  std::condition_variable exited;
  bool hasExited = false;
  bool terminating = false;  // ended on purpose: nothing to say
};

std::string Browser::executablePath() {
  const char* configured = std::getenv("QUORVEL_CHROMIUM");
  return configured && *configured ? configured : kDefaultExecutable;
}

std::shared_ptr<Browser> Browser::shared() {
  static std::mutex mutex;
  static std::shared_ptr<Browser> browser;
  static bool unavailable = false;
  static std::once_flag atExit;
  std::lock_guard lock(mutex);
  if (browser && browser->isRunning()) return browser;
  if (unavailable) return nullptr;
  if (browser) {
    NSLog("UIWebView: the browser ended; starting it again");
    browser->terminate();
    browser.reset();
  }
  const std::string path = executablePath();
  if (::access(path.c_str(), X_OK) != 0) {
    NSLog("UIWebView: no browser at %@ (Debian's chromium package); web views stay blank", path);
    unavailable = true;
    return nullptr;
  }
  browser = launch(path);
  if (!browser) {
    unavailable = true;
    return nullptr;
  }
  std::call_once(atExit, [] {
    std::atexit([] {
      // No lock: exit runs on one thread, and a launch cannot be under way then.
      if (browser) browser->terminate();
    });
  });
  return browser;
}

std::shared_ptr<Browser> Browser::launch(const std::string& path) {
  const auto tmp = std::filesystem::temp_directory_path();
  removeAbandonedProfiles(tmp);
  std::string profileTemplate = (tmp / (kProfilePrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
  if (!::mkdtemp(profileTemplate.data())) {
    NSLog("UIWebView: cannot make a browser profile in %@; web views stay blank", tmp.string());
    return nullptr;
  }
  std::shared_ptr<Browser> browser(new Browser());
  browser->profileDir_ = profileTemplate;

  int toBrowser[2], fromBrowser[2];
  if (::pipe2(toBrowser, O_CLOEXEC) != 0) return nullptr;
  if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
    ::close(toBrowser[0]);
    ::close(toBrowser[1]);
    return nullptr;
  }

  // Everything the child needs is made before the fork: after it, the child may
  // only make async-signal-safe calls.
  std::vector<std::string> args = {path};
  for (const auto& flag : browserFlags()) args.push_back(flag);
  args.push_back("--user-data-dir=" + browser->profileDir_);
  args.push_back("about:blank");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const int childRead = toBrowser[0], childWrite = fromBrowser[1];

  auto process = std::make_shared<Process>();
  auto started = std::make_shared<std::promise<pid_t>>();
  auto startedPid = started->get_future();
  std::thread([process, started, &argv, parent, childRead, childWrite, pathText = path.c_str()] {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (::getppid() != parent) ::_exit(1);  // the parent died before the line above
      ::setpgid(0, 0);                        // its helpers can be ended as a group
      const int in = ::fcntl(childRead, F_DUPFD, 10), out = ::fcntl(childWrite, F_DUPFD, 10);
      if (in < 0 || out < 0 || ::dup2(in, 3) != 3 || ::dup2(out, 4) != 4) ::_exit(126);
      const int devnull = ::open("/dev/null", O_RDWR);
      if (devnull >= 0) {
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);  // the browser's own chatter stays out of the application's log
      }
      ::syscall(SYS_close_range, 5U, ~0U, 0U);
      ::execve(pathText, argv.data(), environ);
      ::_exit(127);
    }
    started->set_value(pid);
    if (pid < 0) return;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(process->mutex);
    process->hasExited = true;
    process->exited.notify_all();
    if (!process->terminating) {
      const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                  : "exit status " + std::to_string(WEXITSTATUS(status));
      NSLog("UIWebView: the browser (process %d) ended (%@); web views start it again when next used", pid, how);
    }
  }).detach();
  const pid_t pid = startedPid.get();
  ::close(childRead);
  ::close(childWrite);
  if (pid < 0) {
    ::close(toBrowser[1]);
    ::close(fromBrowser[0]);
    NSLog("UIWebView: cannot start the browser at %@; web views stay blank", path);
    browser->terminate();
    return nullptr;
  }
  browser->pid_ = pid;
  browser->process_ = process;
  browser->connection_ =
      DevToolsConnection::create(std::make_unique<PipeTransport>(fromBrowser[0], toBrowser[1]));
  try {
    auto version = browser->connection_->call("Browser.getVersion", JSONValue::object(), {},
                                              std::chrono::duration_cast<std::chrono::milliseconds>(kStartTimeout));
    NSLog("UIWebView: browser %@ started (process %d)", version.value("product", std::string("?")), pid);
  } catch (const DevToolsError& e) {
    NSLog("UIWebView: the browser at %@ did not start (%@); web views stay blank", path, e.what());
    browser->terminate();
    return nullptr;
  }
  return browser;
}

Browser::~Browser() { terminate(); }

void Browser::terminate() {
  // Ended on purpose only while it still talked to us; one whose pipe already
  // closed has ended (or is ending) by itself, and its waiter says so.
  const bool onPurpose = connection_ && !connection_->isClosed();
  if (connection_) connection_->close();
  if (pid_ > 0) {
    if (process_ && onPurpose) {
      std::lock_guard lock(process_->mutex);
      process_->terminating = true;
    }
    ::kill(-pid_, SIGKILL);  // the browser's group: it and its helpers
    ::kill(pid_, SIGKILL);
    if (process_) {
      std::unique_lock lock(process_->mutex);
      process_->exited.wait_for(lock, std::chrono::seconds(5), [&] { return process_->hasExited; });
    }
    pid_ = -1;
  }
  if (!profileDir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(profileDir_, ec);
    profileDir_.clear();
  }
}

}  // namespace webkit
