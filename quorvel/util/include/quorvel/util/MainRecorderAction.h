// The builder of one recorded step. Properties are collected in four groups (the
// main action, the element, its parent, the data arguments) and assembled into
//
//   {"action": ..., "popupName": "", ...,
//    "arguments": [{<element properties>, "parent": {<parent properties>}},
//                  {<data-argument properties>}]}
//
// Every builder owns its groups, so builders on different threads never meet. A
// builder is used for one step (or one spy record) only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/json.h"
#include "objc/runtime.h"

class UIView;

class MainRecorderAction : public objc::Object {
  QV_OBJC_DECLARE_CLASS(MainRecorderAction)
 public:
  using Text = std::optional<std::string>;

  // Logs "Initiation Called"; the groups start empty.
  MainRecorderAction();

  // Sets `key` of a group to `value`; an absent value removes the key. Bytes of
  // the value that are not UTF-8 are replaced (U+FFFD), so that every step can be
  // written as JSON.
  void addMainActionProperty(const std::string& key, const Text& value);
  void addObjectProperty(const std::string& key, const Text& value);
  void addParentProperty(const std::string& key, const Text& value);
  void addDataArgsProperty(const std::string& key, const Text& value);
  // "X", "Y", "height" and "width" of the element or of the parent group: the
  // origin and size of the view's own bounds as whole numbers ("%.f"), all "0"
  // without a view.
  void addObjectBoundsProperties(const std::shared_ptr<UIView>& view);
  void addParentBoundsProperties(const std::shared_ptr<UIView>& view);

  // The step: the parent properties go into the element properties under
  // "parent"; the element properties, then the data arguments, become
  // "arguments" of the main action, which is returned.
  JSONValue CreateRecorderAction();
  // A spy record: the element properties with the parent properties under "parent".
  JSONValue CreateSpyData();

 private:
  static void set(JSONValue& group, const std::string& key, const Text& value);
  static void setBounds(JSONValue& group, const std::shared_ptr<UIView>& view);

  JSONValue mainActionProperties_ = JSONValue::object();
  JSONValue objectProperties_ = JSONValue::object();
  JSONValue parentProperties_ = JSONValue::object();
  JSONValue dataArgsProperties_ = JSONValue::object();
  JSONValue arguments_ = JSONValue::array();
};
