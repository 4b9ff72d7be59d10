// Playback requests, from the bytes read off the connection to the reply: on the
// fixed screen, with the main-thread work done inline as the handler does it. Every
// request but the greeting echo is answered, with a JSON array that a standard
// parser reads; a failure is one entry carrying at most its "exceptionmsg".
#include <set>
#include <string>

#include "FuzzScreen.h"
#include "FuzzTarget.h"
#include "foundation/json.h"
#include "foundation/string.h"
#include "quorvel/channel/ServerManager.h"

namespace {

// Commands that hold the main thread by design (the half-second settle of a click or
// of typing, the run-loop turns of a drag) are left out: each would take as long as
// thousands of other inputs, and the way to them is the same as every command's.
bool holdsTheMainThreadByDesign(const std::string& text) {
  static const auto& waiting = *new std::set<std::string>{"clickelement", "sendkeysonelement", "swipeon", "swipeto",
                                                          "swipereset"};
  const auto request = NSJSONSerialization::JSONObjectWithString(text);
  if (!request || !request->is_object()) return false;
  auto name = request->find("functionname");
  return name != request->end() && name->is_string() &&
         waiting.count(foundation::lowercaseString(name->get<std::string>())) > 0;
}

}  // namespace

QV_FUZZ_TARGET(playback_request) {
  qvfuzz::makeFixedScreen();
  const NSData bytes(data, data + size);
  const std::string text(bytes.begin(), bytes.end());
  if (holdsTheMainThreadByDesign(text)) return 0;
  const auto reply = ServerManager::playBackReplyForRequest(bytes);
  qvfuzz::turnMainRunLoop();

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
