// Timing helpers of the playback benchmarks: samples of wall and thread processor
// time with their median and p99, and requests sent through the playback server
// from a client thread while the main run loop runs the handler.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Stats.h"
#include "dispatch/dispatch.h"
#include "foundation/runloop.h"
#include "qvctl/Connection.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The calling thread's processor time in milliseconds: on a busy machine the wall
// time of a long operation also counts the time other processes held the cores.
inline double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}


struct Samples {
  std::vector<double> wall, cpu;
};

inline Samples sample(int count, const std::function<void()>& body) {
  Samples out;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    double cpuStart = cpuMs();
    body();
    out.cpu.push_back(cpuMs() - cpuStart);
    out.wall.push_back(ms(Clock::now() - start));
  }
  return out;
}

inline void print(const char* what, const Samples& s) {
  auto wall = stats(s.wall);
  auto cpu = stats(s.cpu);
  std::printf("    %-44s wall median %9.3f ms  p99 %9.3f ms | cpu median %9.3f ms  p99 %9.3f ms\n", what,
              wall.median, wall.p99, cpu.median, cpu.p99);
}

struct RoundTrips {
  double firstMs = 0;           // the first request, apart from the steady ones
  std::vector<double> wall;     // the steady requests
  std::size_t replyBytes = 0;   // the last reply's payload
  std::string failure;          // empty when every reply passed the check
};

// Sends `request` 1 + `count` times over one connection to the playback server on
// 127.0.0.1 from a client thread while this (main) thread runs the main run loop,
// which runs the handler. `good` tells a proper reply from a failure.
inline RoundTrips roundTrips(const std::string& request, int count, const std::function<bool(const std::string&)>& good) {
  RoundTrips out;
  std::thread client([&] {
    try {
      // The server listens again only after its previous client has gone.
      std::optional<qvctl::Connection> connected;
      for (auto deadline = Clock::now() + std::chrono::seconds(10); !connected;) {
        try {
          connected.emplace("127.0.0.1", qvctl::kPlayBackPort, std::chrono::seconds(10));
        } catch (const std::exception&) {
          if (Clock::now() > deadline) throw;
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      }
      for (int i = 0; i <= count; ++i) {
        auto start = Clock::now();
        std::string reply = qvctl::playRequest(*connected, request, Clock::now() + std::chrono::seconds(60));
        double took = ms(Clock::now() - start);
        if (i == 0) {
          out.firstMs = took;
        } else {
          out.wall.push_back(took);
        }
        out.replyBytes = reply.size();
        if (!good(reply)) out.failure = reply.substr(0, 200);
      }
    } catch (const std::exception& e) {
      out.failure = e.what();
    }
    dispatch_async(dispatch_get_main_queue(), [] { CFRunLoopStop(CFRunLoopGetMain()); });
  });
  CFRunLoopRun();
  client.join();
  return out;
}

}  // namespace bench
