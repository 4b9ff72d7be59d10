#include "quorvel/util/MainRecorderAction.h"

#include "foundation/data.h"
#include "foundation/format.h"
#include "foundation/log.h"
#include "quorvel/util/MappedActionObject.h"
#include "uikit/UIView.h"

QV_OBJC_DEFINE_CLASS(MainRecorderAction, objc::Object)
QV_OBJC_DEFINE_CLASS(MappedActionObject, objc::Object)

MainRecorderAction::MainRecorderAction() { NSLog("Initiation Called"); }

void MainRecorderAction::set(JSONValue& group, const std::string& key, const Text& value) {
  if (value) {
    // A view's text may hold bytes that are not UTF-8; the step must still be
    // written as JSON, or the step sender would have to drop it.
    group[key] = foundation::stringFromUTF8DataLossy(*value);
  } else {
    group.erase(key);
  }
}

void MainRecorderAction::setBounds(JSONValue& group, const std::shared_ptr<UIView>& view) {
  const CGRect bounds = view ? view->bounds() : CGRectZero;
  // "%.f": the nearest whole number, without a decimal point.
  group["X"] = NSStringWithFormat("%.f", bounds.origin.x);
  group["Y"] = NSStringWithFormat("%.f", bounds.origin.y);
  group["height"] = NSStringWithFormat("%.f", bounds.size.height);
  group["width"] = NSStringWithFormat("%.f", bounds.size.width);
}

void MainRecorderAction::addObjectBoundsProperties(const std::shared_ptr<UIView>& view) {
  setBounds(objectProperties_, view);
}

void MainRecorderAction::addParentBoundsProperties(const std::shared_ptr<UIView>& view) {
  setBounds(parentProperties_, view);
}

void MainRecorderAction::addMainActionProperty(const std::string& key, const Text& value) {
  set(mainActionProperties_, key, value);
}

void MainRecorderAction::addObjectProperty(const std::string& key, const Text& value) {
  set(objectProperties_, key, value);
}

void MainRecorderAction::addParentProperty(const std::string& key, const Text& value) {
  set(parentProperties_, key, value);
}

void MainRecorderAction::addDataArgsProperty(const std::string& key, const Text& value) {
  set(dataArgsProperties_, key, value);
}

JSONValue MainRecorderAction::CreateRecorderAction() {
  objectProperties_["parent"] = parentProperties_;
  arguments_.push_back(objectProperties_);
  arguments_.push_back(dataArgsProperties_);
  mainActionProperties_["arguments"] = arguments_;
  return mainActionProperties_;
}

JSONValue MainRecorderAction::CreateSpyData() {
  objectProperties_["parent"] = parentProperties_;
  return objectProperties_;
}
