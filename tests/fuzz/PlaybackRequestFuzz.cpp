// Playback requests, from the bytes read off the connection to the reply: on the
// fixed screen, with the main-thread work done inline as the handler does it. Every
// request but the greeting echo is answered, with a JSON array that a standard
// parser reads; a failure is one entry carrying at most its "exceptionmsg".
#include <string>

#include "FuzzScreen.h"
#include "FuzzTarget.h"
#include "quorvel/channel/ServerManager.h"

QV_FUZZ_TARGET(playback_request) {
  qvfuzz::makeFixedScreen();
  const NSData bytes(data, data + size);
  const auto reply = ServerManager::playBackReplyForRequest(bytes);
  qvfuzz::turnMainRunLoop();

  const std::string text(bytes.begin(), bytes.end());
  if (text == ServerManager::kPlayBackGreetingEcho) {
    QV_FUZZ_CHECK(!reply);
    return 0;
  }
  QV_FUZZ_CHECK(reply.has_value());
  const JSONValue parsed = JSONValue::parse(*reply, nullptr, /*allow_exceptions=*/false);
  QV_FUZZ_CHECK(parsed.is_array());
  for (const auto& entry : parsed) {
    QV_FUZZ_CHECK(entry.is_object());
    if (entry.contains("exceptionmsg")) {
      QV_FUZZ_CHECK(parsed.size() == 1 && entry.size() == 1 && entry["exceptionmsg"].is_string());
    }
  }
  return 0;
}
