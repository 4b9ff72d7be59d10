#include "quorvel/playback/UIViewFinder.h"

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "foundation/format.h"
#include "foundation/string.h"
#include "objc/exception.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/model/VisibleViewList.h"
#include "quorvel/model/XpathManager.h"
#include "quorvel/playback/AiAPI.h"
#include "quorvel/playback/PlayBackInteractionMethods.h"
#include "quorvel/playback/UIViewMemoryCache.h"
#include "quorvel/playback/UIViewsManager+Finding.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "quorvel/web/WebViewCommands.h"
#include "uikit/CALayer.h"
#include "uikit/CATransaction.h"
#include "uikit/UICollectionView.h"
#include "uikit/UIScreen.h"
#include "uikit/UISwitch.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UIView.h"
#include "uikit/UIKeyInput.h"
#include "uikit/UIWindow.h"

QV_OBJC_DEFINE_CLASS(UIViewFinder, objc::Object)

std::optional<std::string> UIViewFinder::parseFunctionCallObjectForWebView(
    const std::shared_ptr<FunctionCallObject>& call) {
  return WebViewCommands::parseFunctionCallObjectForWebView(call);
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

// A click or typing on the element, framed by the highlight: the border it had is
// remembered, the highlight shown at once, the action run, the settle wait spent,
// and the remembered border put back. The wait is spent even without an element.
void performHighlighted(const std::shared_ptr<UIView>& element, const std::function<void()>& action) {
  auto layer = element ? element->layer() : nullptr;
  CGFloat width = layer ? layer->borderWidth() : 0;
  CGColorRef color = layer ? layer->borderColor() : CGColorRef();
  UIView_ToolkitAdditions::highlightView(element);
  CATransaction::flush();
  action();
  ::usleep(UIViewFinder::kActionSettleMicroseconds);
  if (layer) UIView_ToolkitAdditions::deHighlightView(element, width, color);
  CATransaction::flush();
}

bool isScrollViewByName(const std::shared_ptr<UIView>& view) {
  return Utilities::classNameContains(view, "scrollview");
}

// Runs `scroll` once for each of the three scrolling-view tests the view passes.
void forEachScrollTest(const std::shared_ptr<UIView>& view, const std::function<void()>& scroll) {
  if (!view) return;
  if (isScrollViewByName(view)) scroll();
  if (view->isKindOfClass(UICollectionView::classObject())) scroll();
  if (view->isKindOfClass(UITableView::classObject())) scroll();
}

// Through the method table: a view that only carries a scroll view's name raises.
void setContentOffsetAnimated(UIView& view, CGPoint offset) {
  objc::msgSend<void, CGPoint, bool>(view, "setContentOffset:animated:", offset, true);
}

void findEditableComponents(UIViewFinder& finder, const Text& accessorType, const Text& accessorValue) {
  UIViewsManager manager;
  bool sawTextField = false;
  const auto visibleViews = finder.getAllUIViewsAccordingToViewType(std::string());
  for (const auto& view : visibleViews) {
    if (!view->isKindOfClass(UITextField::classObject())) continue;
    if (!accessorType) return;
    if (*accessorType == "text" || *accessorType == "partialtext" || *accessorType == "accessibilityid" ||
        accessorType->empty()) {
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

// A named state of the element for "getattribute": "label" (the accessibility
// texts), "identifier" (the accessibility identifier), "class"; null for any
// other name.
JSONValue attribute(const std::shared_ptr<UIView>& element, const Text& name) {
  const std::string word = foundation::lowercaseString(name.value_or(""));
  Text value;
  if (word == "label") {
    value = Utilities::getUIViewAccesibilityLabel(element);
  } else if (word == "identifier") {
    value = Utilities::getUIViewAccesibilityId(element);
  } else if (word == "class") {
    value = Utilities::getUIViewClassName(element);
  }
  return value ? JSONValue(*value) : JSONValue();
}

// Bounds of a "touchpath": the points one finger visits, and the time it may take.
constexpr std::size_t kMaxTouchPathPoints = 1000;
constexpr double kMaxTouchPathSeconds = 10.0;

// "touchpath": one finger put down at the first point, moved through the others
// and lifted at the last, in window coordinates: [[x, y, ms], ...], each point with
// the milliseconds the finger stays there before the next step. One point is a
// tap. False when the path is not such a list.
bool touchAlongPath(const std::shared_ptr<UIWindow>& window, const Text& data) {
  if (!window || !data) return false;
  JSONValue points = JSONValue::parse(*data, nullptr, false);
  if (!points.is_array() || points.empty() || points.size() > kMaxTouchPathPoints) return false;
  UIView_ToolkitAdditions::TKDragPath path;
  std::vector<double> pauses;
  double total = 0;
  for (const auto& point : points) {
    if (!point.is_array() || point.size() != 3 || !point[0].is_number() || !point[1].is_number() ||
        !point[2].is_number()) {
      return false;
    }
    path.push_back({point[0].get<double>(), point[1].get<double>()});
    const double pause = std::clamp(point[2].get<double>() / 1000.0, 0.0, kMaxTouchPathSeconds - total);
    total += pause;
    pauses.push_back(pause);
  }
  if (path.size() == 1) {
    UIView_ToolkitAdditions::tapAtPoint(window, path.front());
  } else {
    UIView_ToolkitAdditions::dragPointsAlongPaths(window, {path}, pauses);
  }
  return true;
}

// "typekeys": the text typed on the keyboard into the view that has the keyboard
// focus, one character at a time; a backspace (U+0008) deletes backward. False
// when no view that takes text has the focus.
bool typeIntoFocusedView(const std::shared_ptr<UIWindow>& window, const Text& text) {
  auto input = window ? std::dynamic_pointer_cast<UIKeyInput>(window->_firstResponder()) : nullptr;
  if (!input) return false;
  const std::string& keys = text.value_or("");
  for (std::size_t i = 0; i < keys.size();) {
    std::size_t length = 1;
    while (i + length < keys.size() && (static_cast<unsigned char>(keys[i + length]) & 0xC0) == 0x80) ++length;
    if (keys[i] == '\b') {
      input->deleteBackward();
    } else {
      input->insertText(keys.substr(i, length));
    }
    i += length;
  }
  return true;
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
  } else if (function == "clickelement") {
    auto element = cache()->getUIVIewAccordingToElementId(accessorValue);
    performHighlighted(element, [&] { std::make_shared<PlayBackInteractionMethods>()->performClickOnUIView(element); });
  } else if (function == "sendkeysonelement") {
    auto element = cache()->getUIVIewAccordingToElementId(accessorValue);
    performHighlighted(element, [&] {
      std::make_shared<PlayBackInteractionMethods>()->performTypeTextOnUIView(element, call->getDataValue());
    });
  } else if (function == "swipeto") {
    for (const auto& view : getAllUIViewsAccordingToViewType(std::string())) swipeBy(view, 200.0f);
  } else if (function == "swipereset") {
    for (const auto& view : getAllUIViewsAccordingToViewType(std::string())) swipeReset(view, -200.0f);
  } else if (function == "swipeon") {
    std::shared_ptr<UIView> target;
    if (accessorValue && accessorValue->empty()) {
      auto window = getCurrentWindow();
      auto subviews = window ? window->subviews() : std::vector<std::shared_ptr<UIView>>();
      if (!subviews.empty()) target = subviews.front();
    } else {
      target = cache()->getUIVIewAccordingToElementId(accessorValue);
    }
    swipeOn(target, call->getDataValue());
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
  } else if (function == "getrect") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      reply.push_back({{"rectangle", std::make_shared<AiAPI>()->getRectObjectOfView(element)}});
    }
  } else if (function == "getattribute") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      reply.push_back({{"output", attribute(element, call->getDataValue())}});
    }
  } else if (function == "getwindowrect") {
    if (auto window = getCurrentWindow()) {
      reply.push_back({{"rectangle", std::make_shared<AiAPI>()->getRectObjectOfView(window)}});
    }
  } else if (function == "touchpath") {
    appendOutput(reply, boolText(touchAlongPath(getCurrentWindow(), call->getDataValue())));
  } else if (function == "typekeys") {
    appendOutput(reply, boolText(typeIntoFocusedView(getCurrentWindow(), call->getDataValue())));
  } else if (function == "ai_findelements") {
    return std::make_shared<AiAPI>()->getAllViewsInformation(tagName);
  } else if (function == "ai_getscreensnapshot") {
    appendOutput(reply, std::make_shared<AiAPI>()->getBase64ImageOfCurrentWindow());
  } else if (function == "highlight") {
    if (auto element = cache()->getUIVIewAccordingToElementId(accessorValue)) {
      UIView_ToolkitAdditions::highlightView(element);
    }
  }
  return reply;
}

void UIViewFinder::swipeBy(const std::shared_ptr<UIView>& view, float distance) {
  forEachScrollTest(view, [&] {
    CGPoint offset = objc::msgSend<CGPoint>(*view, "contentOffset");
    setContentOffsetAnimated(*view, {0, offset.y + distance});
  });
}

void UIViewFinder::swipeReset(const std::shared_ptr<UIView>& view, float) {
  forEachScrollTest(view, [&] { setContentOffsetAnimated(*view, {0, 0}); });
}

void UIViewFinder::swipeOn(const std::shared_ptr<UIView>& target, const std::optional<std::string>& direction) {
  if (!target) return;
  const CGSize size = target->bounds().size;
  const double w = size.width, h = size.height;
  const std::string word = foundation::lowercaseString(direction.value_or(""));
  CGPoint start{0, 0}, end{0, 0};
  if (word == "left") {
    start = {w - w / 4, h / 2};
    end = {w / 4, h / 2};
  } else if (word == "right") {
    start = {w / 4, h / 2};
    end = {w - w / 4, h / 2};
  } else if (word == "up") {
    start = {w / 2, h - h / 4};
    end = {w / 2, h / 4};
  } else if (word == "down") {
    start = {w / 2, h / 4};
    end = {w / 2, h - h / 4};
  }
  UIView_ToolkitAdditions::dragFromPointToPoint(target, start, end);
}
