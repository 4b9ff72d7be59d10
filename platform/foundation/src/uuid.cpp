#include "foundation/uuid.h"

#include <pthread.h>
#include <sys/random.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

#include <uuid/uuid.h>

namespace NSUUID {
namespace {

// Random bytes are taken from the kernel a page at a time and handed out sixteen
// per UUID: one system call per 256 UUIDs instead of several per UUID (the walks
// that give every view of a screen its identifiers make thousands at once).
//
// A forked child must not hand out the bytes its parent still holds: a fork moves
// the generation on, and a buffer filled in an older generation is thrown away.
std::atomic<unsigned> forkGeneration{0};

void registerForkHandler() {
  static const bool registered = [] {
    ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)registered;
}

struct RandomBuffer {
  std::array<std::uint8_t, 4096> bytes;
  std::size_t used = sizeof bytes;  // empty
  unsigned generation = 0;

  // Sixteen random bytes, or false when the kernel gave none.
  bool take(std::uint8_t* out) {
    const unsigned now = forkGeneration.load(std::memory_order_relaxed);
    if (generation != now) used = sizeof bytes;
    if (used + 16 > sizeof bytes) {
      std::size_t filled = 0;
      while (filled < sizeof bytes) {
        ssize_t n = ::getrandom(bytes.data() + filled, sizeof bytes - filled, 0);
        if (n <= 0) return false;
        filled += static_cast<std::size_t>(n);
      }
      used = 0;
      generation = now;
    }
    std::memcpy(out, bytes.data() + used, 16);
    used += 16;
    return true;
  }
};

}  // namespace

std::string UUIDString() {
  registerForkHandler();
  thread_local RandomBuffer buffer;
  uuid_t id;
  if (buffer.take(id)) {
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x40);  // version 4: random
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  } else {
    uuid_generate_random(id);
  }
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}

}  // namespace NSUUID
