// One fuzz target: a function of the input bytes that returns 0, and aborts (through
// QV_FUZZ_CHECK or a sanitizer) when the code under test misbehaves.
//
// The same source builds two ways. With QV_LIBFUZZER defined (the clang fuzzing
// build, one executable per target) the target is the libFuzzer entry point. Without
// it the target registers itself by name, so that an ordinary unit test can replay
// the committed inputs of every target through the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace qvfuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

inline std::map<std::string, TargetFunction>& targets() {
  static auto* all = new std::map<std::string, TargetFunction>;
  return *all;
}

inline bool registerTarget(const char* name, TargetFunction function) {
  targets()[name] = function;
  return true;
}

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

}  // namespace qvfuzz

#define QV_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::qvfuzz::checkFailed(#condition, __FILE__, __LINE__))

#ifdef QV_LIBFUZZER
#define QV_FUZZ_ENTRY(name)                                                                      \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {           \
    return qvFuzzTarget_##name(data, size);                                                      \
  }
#else
#define QV_FUZZ_ENTRY(name) \
  [[maybe_unused]] static const bool qvFuzzRegistered_##name = ::qvfuzz::registerTarget(#name, qvFuzzTarget_##name);
#endif

#define QV_FUZZ_TARGET(name)                                                   \
  static int qvFuzzTarget_##name(const std::uint8_t* data, std::size_t size); \
  QV_FUZZ_ENTRY(name)                                                          \
  static int qvFuzzTarget_##name(const std::uint8_t* data, std::size_t size)
