// Device input: the phone's touch screen and keyboard, driven over a loopback TCP
// connection by a person, a test or a demo (with nc, bash's /dev/tcp or a client).
//
// The server listens on 127.0.0.1 only, port 9900 unless QUORVEL_DEVICE_PORT says
// otherwise (0: any free port). When QUORVEL_DEVICE_PORT_FILE names a file, the
// port in use is written there (one line) once the server listens. Connections are
// served one command per line; each command is answered by exactly one line that
// starts with "ok" or "error:", except "tree" (below). Coordinates are points of
// the key window's coordinate space (numbers, finite).
//
//   tap X Y              a finger touches down and lifts at (X, Y)
//   down X Y             the finger touches down; it stays down between commands
//   move X Y             the finger that is down moves to (X, Y)
//   up X Y               the finger that is down lifts at (X, Y)
//   swipe X1 Y1 X2 Y2 [STEPS]
//                        down at the first point, STEPS moves (default 10, at most
//                        1000) at the digitizer's report rate, up at the second
//   type TEXT            the rest of the line typed on the on-screen keyboard into
//                        the first responder; "\n" is the return key, "\b" delete,
//                        "\\" a backslash
//   screenshot PATH      a PNG of the whole screen at the screen's scale
//   tree                 "ok", then the key window's view tree, one view per line
//                        indented two spaces per depth (class, frame in window
//                        coordinates, hidden flag, text, identifier and layer
//                        border width when present), then "end"
//
// Touches are hit-tested on the front-most window under the point (the keyboard
// and alert windows lie above the application's), built with the touch's private
// setters, and delivered through the application's sendEvent:, exactly as a
// finger's would be. There is one finger: while it is down (after "down"), "tap",
// "down" and "swipe" are refused; it stays down across connections until "up".
// All work on views runs on the main thread (an input source of the main run loop
// in the common modes); the answer is written once the work is done. A malformed
// line gets "error: ..." and changes nothing.
#pragma once

#include <string>

class UIDeviceInput {
 public:
  static constexpr int kDefaultPort = 9900;

  // Starts the server on the port named by the environment (see above). Once it
  // runs, further calls change nothing and return true. False (and a log line)
  // when the port cannot be had.
  static bool start();
  // Starts on `port` (0: any free port).
  static bool startOnPort(int port);
  // Stops listening and closes every connection; commands not yet run are answered
  // with an error. Safe from any thread; the server can be started again.
  static void stop();
  static bool isRunning();
  // The port listened on, or 0 when not running.
  static int port();
};
