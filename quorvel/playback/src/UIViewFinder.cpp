#include "quorvel/playback/UIViewFinder.h"

#include "foundation/format.h"
#include "foundation/string.h"
#include "objc/exception.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/playback/UIViewsManager+Finding.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIScreen.h"
#include "uikit/UISwitch.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(UIViewFinder, objc::Object)

// The web bridge is not part of this agent yet: no page ever answers.
std::optional<std::string> UIViewFinder::parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>&) {
  return std::nullopt;
}

std::shared_ptr<UIWindow> UIViewFinder::getCurrentWindow() { return VisibleViewList::getCurrentWindow(); }

std::vector<std::shared_ptr<UIView>> UIViewFinder::getAllUIViewsAccordingToViewType(
    const std::optional<std::string>& tag) {
  return VisibleViewList::getAllUIViewsAccordingToViewType(tag);
}

namespace {

using Text = std::optional<std::string>;

std::shared_ptr<UIViewMemoryCache> cache() { return UIViewMemoryCache::sharedInstance(); }

void appendElementIDs(JSONValue& reply) {
  for (const auto& elementId : cache()->getAllUIViewsIdentifier()) reply.push_back({{"elementID", elementId}});
}

// An "output" entry. Like a dictionary that cannot store nil, an absent value
// raises instead of adding an entry.
void appendOutput(JSONValue& reply, const Text& value) {
  if (!value) {
    objc::NSException::raise(objc::NSInvalidArgumentException,
                             "*** -[__NSDictionaryM setObject:forKey:]: object cannot be nil (key: output)");
  }
  reply.push_back({{"output", *value}});
}

const char* boolText(bool value) { return value ? "true" : "false"; }

// The commands whose operations (clicks, typing, swipes, the AI export) this agent
// does not have yet: they answer with an exception instead of pretending to act.
[[noreturn]] void raiseNotAvailable(const std::string& command) {
  objc::NSException::raise(objc::NSGenericException,
                           NSStringWithFormat("The command \"%@\" is not available yet", command));
}

// Switch state: a UISwitch, or a view whose class name contains "switch" and that
// answers isOn; absent for any other view.
Text switchState(const std::shared_ptr<UIView>& element) {
  if (element->isKindOfClass(UISwitch::classObject())) {
    return boolText(std::static_pointer_cast<UISwitch>(element)->isOn());
  }
  const std::string className = foundation::lowercaseString(Utilities::getUIViewClassName(element).value_or(""));
  if (className.find("switch") == std::string::npos) {
    return std::nullopt;
  }
  try {
    return boolText(objc::msgSend<bool>(*element, "isOn"));
  } catch (const objc::NSException&) {
    return boolText(false);  // it does not answer isOn
  }
}

void findEditableComponents(UIViewFinder& finder, const Text& accessorType, const Text& accessorValue) {
  UIViewsManager manager;
  bool sawTextField = false;
  const auto visibleViews = finder.getAllUIViewsAccordingToViewType(std::string());
  for (const auto& view : visibleViews) {
    if (!view->isKindOfClass(UITextField::classObject())) continue;
    if (!accessorType) return;
    if (*accessorType == "text" || *accessorType == "partialtext" || accessorType->empty()) {
      UIViewsManager_Finding::identifyElementByAccessor(manager, view, std::nullopt, accessorType, accessorValue);
    } else if (*accessorType == "xpath") {
      sawTextField = true;
      break;
    } else {
      return;
    }
  }
  if (!sawTextField) return;
  // An xpath names one view of any class, found once the screen shows a visible text
  // field; the search would give the same answer for every field. The list above is
  // still the screen's: nothing has changed it on this (main) thread since.
  auto guid = XpathManager::sharedInstance()->getIdentificationGUIDFromXpath(accessorValue);
  if (!guid) return;
  for (const auto& view : visibleViews) {
    if (ViewIdentity::getPlaybackGUID(view) == guid) {
      cache()->addViewInMemoryCache(view);
      return;
    }
  }
}

}  // namespace

JSONValue UIViewFinder::parseFunctionCallObject(const std::shared_ptr<FunctionCallObject>& call) {
  JSONValue reply = JSONValue::array();
  if (!call || !call->getFunctionName()) return reply;
  const std::string function = foundation::lowercaseString(*call->getFunctionName());
  Text accessorType;
  if (call->getAccessorType()) accessorType = foundation::lowercaseString(*call->getAccessorType());
  const Text& accessorValue = call->getAccessorValue();
  const Text& tagName = call->getTagName();

  if (function == "findelementsinsideelement") {
    auto parent = cache()->getUIVIewAccordingToElementId(call->getDataValue());
    cache()->clearMemoryCache();
    if (parent) {
      UIViewsManager manager;
      UIViewsManager_Finding::findElements(manager, parent, tagName, accessorType, accessorValue);
    }
    appendElementIDs(reply);
  } else if (function == "findeditablecomponents") {
    cache()->clearMemoryCache();
    findEditableComponents(*this, accessorType, accessorValue);
    appendElementIDs(reply);
  } else if (function == "findelements") {
    cache()->clearMemoryCache();
    if (auto window = getCurrentWindow()) {
      UIViewsManager manager;
      UIViewsManager_Finding::findElements(manager, window, tagName, accessorType, accessorValue);
    }
    appendElementIDs(reply);
  } else if (function == "clickelement" || function == "sendkeysonelement" || function == "swipeto" ||
             function == "swipereset" || function == "swipeon") {
    raiseNotAvailable(function);
  } else if (function == "isselected") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      if (auto state = switchState(element)) appendOutput(reply, state);
    }
  } else if (function == "isenabled") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      appendOutput(reply, boolText(element->isUserInteractionEnabled()));
    }
  } else if (function == "isdisplayed") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      appendOutput(reply, boolText(CGRectContainsRect(UIScreen::mainScreen()->bounds(), element->frame())));
    }
  } else if (function == "gettext") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      appendOutput(reply, Utilities::getUIViewTextForPlayBack(element));
    }
  } else if (function == "getheight") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      appendOutput(reply, NSStringWithFormat("%.f", element->bounds().size.height));
    }
  } else if (function == "getwidth") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      appendOutput(reply, NSStringWithFormat("%.f", element->bounds().size.width));
    }
  } else if (function == "ai_findelements" || function == "ai_getscreensnapshot") {
    raiseNotAvailable(function);
  } else if (function == "highlight") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      UIView_ToolkitAdditions::highlightView(element);
    }
  }
  return reply;
}
