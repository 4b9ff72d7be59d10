// The handlers of the bytes read from the two servers' clients: recorder commands
// (mode switches and highlight requests) and playback requests.
#include <cctype>
#include <climits>
#include <cstdint>
#include <exception>
#include <string>

#include "foundation/log.h"
#include "foundation/string.h"
#include "objc/exception.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "quorvel/web/WebView.h"

namespace {

// The leading decimal integer of a text, read the way the platform's intValue
// reads it: leading white space and a sign are allowed, reading stops at the first
// other character, no digits give 0, and values beyond 32 bits saturate.
int leadingIntValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

std::string ServerManager::playBackExceptionReply(const std::optional<std::string>& reason) {
  JSONValue entry = JSONValue::object();
  if (reason) entry["exceptionmsg"] = *reason;
  JSONValue reply = JSONValue::array();
  reply.push_back(std::move(entry));
  try {
    return Utilities::convertNSArrayToString(reply);
  } catch (...) {
    // A reason that is not valid UTF-8 is sent with its bad bytes replaced.
    return reply.dump(-1, ' ', false, JSONValue::error_handler_t::replace);
  }
}

void ServerManager::handleRecorderCommand(const NSData& data) {
  try {
    auto text = foundation::stringFromUTF8Data(data);
    if (!text) {
      NSLog("Error converting received data into UTF-8 String");
      return;
    }
    NSLog("Recorder thread message is '%@'", *text);
    const std::string command = foundation::lowercaseString(*text);
    auto vars = GlobalVars::sharedInstance();
    if (command.find("startobjectspy") != std::string::npos) {
      NSLog("Switching to spy");
      vars->set_spyMode("true");
      std::make_shared<WebView>()->switchToSpyMode();
      Utilities::ShowToastMessage("Switched to Spy Mode");
    } else if (command.find("stopobjectspy") != std::string::npos) {
      NSLog("Switching to recorder");
      vars->set_spyMode("false");
      std::make_shared<WebView>()->switchToRecorderMode();
      Utilities::ShowToastMessage("Switched to Recording Mode");
    } else if (command.find("highlight") != std::string::npos) {
      highlightStoredView(*text);
    }
  } catch (const std::exception& e) {
    NSLog("Recorder command failed: %@", e.what());
  } catch (...) {
    NSLog("Recorder command failed");
  }
}

void ServerManager::highlightStoredView(const std::string& command) {
  NSLog("HIGHLIGHTING in Spy: '%@' ", command);
  const std::size_t equals = command.find('=');
  if (equals == std::string::npos) return;  // no position: nothing to do, the count stays
  std::string_view position = std::string_view(command).substr(equals + 1);
  position = position.substr(0, position.find('='));
  const int value = leadingIntValue(position);

  auto storage = UIViewStorage::sharedObject();
  const std::uint64_t size = storage->numberOfViews();
  // Counted from the end: 0 is the most recently stored view. Out of range (below
  // zero wraps around) finds no key.
  const std::uint64_t index = size - static_cast<std::uint64_t>(static_cast<std::int64_t>(value)) - 1;
  NSLog("elementIndexToHighlight '%d', and _viewSotrageSize '%d' ", static_cast<std::int32_t>(index),
        static_cast<std::int32_t>(size));
  if (auto identifier = storage->identifierForKey(std::to_string(index))) {
    if (auto view = storage->viewForIdentifier(*identifier)) UIView_ToolkitAdditions::highlightView(view);
  }
  storage->setCount(0);
}

std::optional<std::string> ServerManager::playBackReplyForRequest(const NSData& data) {
  const auto text = foundation::stringFromUTF8Data(data);
  NSLog("Msg is %@", text);
  if (text == kPlayBackGreetingEcho) return std::nullopt;
  try {
    // Text that is not UTF-8 is absent here, which the JSON reader refuses.
    auto request = Utilities::convertStringToMutableDictionary(text);
    auto call = Utilities::createFunctionCallObject(request);
    auto finder = std::make_shared<UIViewFinder>();
    const std::optional<std::string> webReply = finder->parseFunctionCallObjectForWebView(call);
    const JSONValue nativeReply = finder->parseFunctionCallObject(call);
    if (nativeReply.is_array() && !nativeReply.empty()) return Utilities::convertNSArrayToString(nativeReply);
    if (webReply) return webReply;
    return std::string("[]");
  } catch (const objc::NSException& e) {
    return playBackExceptionReply(e.reason());
  } catch (const std::exception& e) {
    return playBackExceptionReply(std::string(e.what()));
  } catch (...) {
    return playBackExceptionReply(std::nullopt);
  }
}

void ServerManager::handlePlayBackRequest(const NSData& data, const AsyncTcpSocketPtr& connection) {
  try {
    IsPlaybackGetResponse_ = true;
    stopRecordingWhilePlayBack();
    const auto reply = playBackReplyForRequest(data);
    if (!reply) {
      // Unanswered: no completed write asks for the next request, so ask here.
      queueCommandRead(connection, CommandRead::toCRLF);
      return;
    }
    writeFramed(connection, framedMessage(*reply));
    jsonPlayBackServerData_.store(nullptr);
  } catch (const std::exception& e) {
    NSLog("Playback request failed: %@", e.what());
  } catch (...) {
    NSLog("Playback request failed");
  }
}
