// Running playback commands through the native interpreter, as the playback
// handler does, and reading the element IDs of a find reply.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/playback/UIViewFinder.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "uikit/UIView.h"

namespace interpretertest {

using Text = std::optional<std::string>;

struct Command {
  Text function, tag, type, value, data;
};

inline JSONValue run(const Command& c) {
  auto call = std::make_shared<FunctionCallObject>();
  call->setFunctionName(c.function);
  call->setTagName(c.tag);
  call->setAccessorType(c.type);
  call->setAccessorValue(c.value);
  call->setDataValue(c.data);
  call->setFunctionType(std::string("anything"));
  call->setFunctionResultType(std::string("whatever"));
  return std::make_shared<UIViewFinder>()->parseFunctionCallObject(call);
}

inline std::vector<std::string> ids(const JSONValue& reply) {
  std::vector<std::string> out;
  for (const auto& entry : reply) out.push_back(entry.at("elementID").get<std::string>());
  return out;
}

inline std::vector<std::shared_ptr<UIView>> views(const JSONValue& reply) {
  std::vector<std::shared_ptr<UIView>> out;
  for (const auto& id : ids(reply)) out.push_back(UIViewMemoryCache::sharedInstance()->getUIVIewAccordingToElementId(id));
  return out;
}

}  // namespace interpretertest
