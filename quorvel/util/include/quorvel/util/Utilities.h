// Conversions, notices, identifiers and view readers shared by every part of the agent.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/json.h"
#include "quorvel/util/FunctionCallObject.h"

class Utilities {
 public:
  using Text = std::optional<std::string>;

  // Compact JSON text of a collection. A value that cannot be written raises
  // NSException, which the caller handles.
  static std::string convertNSArrayToString(const JSONValue& array);
  static std::string convertMutableDictionaryToString(const JSONValue& dictionary);
  // The top-level value of a JSON text; absent for invalid JSON. An absent text raises.
  static std::optional<JSONValue> convertStringToNSArray(const Text& text);
  static std::optional<JSONValue> convertStringToMutableDictionary(const Text& text);

  // Marks playback as started, then fills a command record from the request's keys.
  static std::shared_ptr<FunctionCallObject> createFunctionCallObject(const std::optional<JSONValue>& request);

  // A new random identifier: 36 upper-case characters, 8-4-4-4-12.
  static std::string getGUIDString();
};
