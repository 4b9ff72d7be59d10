// Runs a command in a private network namespace of its own with only the loopback
// interface up, so that tests binding the agent's fixed ports collide neither with
// one another nor with anything else on the machine.
//
//   qv-private-network COMMAND [ARGUMENTS...]
//
// Fails (status 125) when the namespace cannot be made: the build only runs tests
// through this program where it found namespaces available, and a test that ran
// unprotected instead would race for the ports without saying so.
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSetupFailed = 125;

bool bringLoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (ok) {
    request.ifr_flags |= IFF_UP;
    ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  ::close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv-private-network COMMAND [ARGUMENTS...]\n");
    return kSetupFailed;
  }
  if (::unshare(CLONE_NEWNET) != 0) {
    std::fprintf(stderr, "qv-private-network: cannot make a network namespace: %s "
                         "(configure with -DQV_PRIVATE_NETWORK=OFF to run such tests one at a time instead)\n",
                 std::strerror(errno));
    return kSetupFailed;
  }
  if (!bringLoopbackUp()) {
    std::fprintf(stderr, "qv-private-network: cannot bring the loopback interface up: %s\n", std::strerror(errno));
    return kSetupFailed;
  }
  ::execvp(argv[1], argv + 1);
  std::fprintf(stderr, "qv-private-network: cannot run %s: %s\n", argv[1], std::strerror(errno));
  return kSetupFailed;
}
