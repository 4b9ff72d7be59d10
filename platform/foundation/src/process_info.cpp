#include "foundation/process_info.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

std::mutex& versionMutex() {
  static std::mutex m;
  return m;
}

NSOperatingSystemVersion& configuredVersion() {
  static NSOperatingSystemVersion version = [] {
    NSOperatingSystemVersion v{16, 0, 0};
    if (const char* text = std::getenv("QUORVEL_OS_VERSION")) {
      long major = 0, minor = 0, patch = 0;
      int n = std::sscanf(text, "%ld.%ld.%ld", &major, &minor, &patch);
      if (n >= 1) v = {major, n >= 2 ? minor : 0, n >= 3 ? patch : 0};
    }
    return v;
  }();
  return version;
}

bool atLeast(const NSOperatingSystemVersion& have, const NSOperatingSystemVersion& want) {
  if (have.majorVersion != want.majorVersion) return have.majorVersion > want.majorVersion;
  if (have.minorVersion != want.minorVersion) return have.minorVersion > want.minorVersion;
  return have.patchVersion >= want.patchVersion;
}

}  // namespace

objc::Class* NSProcessInfo::classObject() {
  static objc::Class* cls = objc::Class::registerClass("NSProcessInfo", objc::Object::classObject(), [](objc::Class* c) {
    c->addMethod<bool, NSOperatingSystemVersion>(
        "isOperatingSystemAtLeastVersion:", [](objc::Object& self, NSOperatingSystemVersion version) {
          return atLeast(static_cast<NSProcessInfo&>(self).operatingSystemVersion(), version);
        });
  });
  return cls;
}
[[maybe_unused]] static objc::Class* const kNSProcessInfoClass = NSProcessInfo::classObject();

std::shared_ptr<NSProcessInfo> NSProcessInfo::processInfo() {
  // Never destroyed: other threads may still ask while the process exits.
  static const auto& shared = *new std::shared_ptr<NSProcessInfo>(std::make_shared<NSProcessInfo>());
  return shared;
}

double NSProcessInfo::systemUptime() const {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::uint64_t NSProcessInfo::physicalMemory() const {
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long pageSize = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) : 0;
}

int NSProcessInfo::processIdentifier() const { return static_cast<int>(::getpid()); }

std::string NSProcessInfo::processName() const {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::vector<std::string> NSProcessInfo::arguments() const {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

std::map<std::string, std::string> NSProcessInfo::environment() const {
  std::map<std::string, std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  return env;
}

std::size_t NSProcessInfo::activeProcessorCount() const {
  long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<std::size_t>(n) : 1;
}

NSOperatingSystemVersion NSProcessInfo::operatingSystemVersion() const {
  std::lock_guard lock(versionMutex());
  return configuredVersion();
}

bool NSProcessInfo::isOperatingSystemAtLeastVersion(NSOperatingSystemVersion version) {
  return objc::msgSend<bool>(*this, "isOperatingSystemAtLeastVersion:", version);
}

void NSProcessInfo::setOperatingSystemVersion(NSOperatingSystemVersion version) {
  std::lock_guard lock(versionMutex());
  configuredVersion() = version;
}
