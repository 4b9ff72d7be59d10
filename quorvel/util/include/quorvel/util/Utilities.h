// Conversions, notices, identifiers and view readers shared by every part of the agent.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/json.h"
#include "objc/runtime.h"
#include "uikit/CGGeometry.h"
#include "quorvel/util/FunctionCallObject.h"

class MappedActionObject;
class UIAlertView;
class UIImage;

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

  // Notices, built and shown on the main queue; the caller does not wait.
  // A button-less alert with the message, dismissed 5 seconds after it was shown.
  static void ShowToastMessage(const Text& message);
  // An alert with "Cancel" and "Ok" that is shown and at once dismissed.
  static void ShowAlertMessage(const Text& message);
  // Dismisses an alert as its button 0, animated (main thread).
  static void dismissAlert(const std::shared_ptr<UIAlertView>& alert);

  // View readers. They take a view or a bar item (a navigation item, bar button
  // item or tab bar item, which are not views), run on any thread and never raise.
  // The run-time class name of any object; absent for no object.
  static Text getUIViewClassName(const objc::id& object);
  // Whether the run-time class name, lower-cased, contains `lowerCasePart` (given in
  // lower case); NO for no object.
  static bool classNameContains(const objc::id& object, std::string_view lowerCasePart);
  // The accessibility identifier, or "" when it is absent.
  static Text getUIViewAccesibilityId(const objc::id& view);
  // The first present of accessibility value, label and hint, or "".
  static Text getUIViewAccesibilityLabel(const objc::id& view);
  // The text a recorded step or a spy record gives the view; may be absent.
  static Text getUIViewText(const objc::id& view);
  // The text playback matches and reports for the view (a text field's typed text
  // before its placeholder, the joined titles of a segmented control); may be absent.
  // A secure text field's typed text reads as the screen shows it: bullets.
  static Text getUIViewTextForPlayBack(const objc::id& view);
  // One bullet (U+2022) per character of `text`.
  static std::string secureText(const std::string& text);

  // Images of a view: the view rendered at the screen's scale, and the area of
  // 300 x 200 points around a point of the view (origin 100 points left of and
  // above the point). nullptr when the object is not a view or has no pixels.
  static std::shared_ptr<UIImage> getUIImageOfUIView(const objc::id& view);
  static std::shared_ptr<UIImage> getUIImageOfUIViewTouchedArea(const objc::id& view, double x, double y);
  // The crop rectangle of the touched-area image for a point of the view.
  static CGRect touchedAreaRect(double x, double y);
  // Those images as JPEG (quality 0.6) in standard Base64 without line breaks;
  // absent when there is no image.
  static Text getBase64StringOfUIImageOfUIView(const objc::id& view);
  // Base64 JPEG of an image already rendered; absent for no image.
  static Text getBase64StringOfUIImage(const std::shared_ptr<UIImage>& image);
  static Text getBase64StringOfUIImageOfUIViewTouchedArea(const objc::id& view, double x, double y);

  // The action a plain tap on the view records, with data arguments "": a switch
  // (or a view whose class name contains "switch" and that answers isOn) by its
  // state now, "Mobile_SelectSwitch" or "Mobile_DeSelectSwitch"; a button
  // "ClickButton"; an image view "ClickImage"; anything else, a text field and a
  // view that cannot tell its state included, "Click". Never raises.
  static std::shared_ptr<MappedActionObject> getActionAndDataAccordingToComponent(const objc::id& view);
};
