// The click and typing actions of playback. Switches are toggled and text fields
// filled directly, without touches; anything else is clicked with a synthetic tap.
// Created per action; main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "objc/runtime.h"

class UIView;

class PlayBackInteractionMethods : public objc::Object {
  QV_OBJC_DECLARE_CLASS(PlayBackInteractionMethods)
 public:
  // Toggles a switch (a UISwitch, or a view whose class name contains "switch" and
  // that answers "isOn"/"setOn:"; else the first UISwitch among the view and its
  // ancestors below the top view) with setOn: alone, so no value-changed action
  // runs; otherwise taps the view. Always YES; no view does nothing.
  bool performClickOnUIView(const std::shared_ptr<UIView>& view);
  // Makes a text field first responder, replaces its whole text (absent empties it),
  // posts one "UITextFieldTextDidChangeNotification" and sends its editing-changed
  // actions once. NO, doing nothing, for any other view.
  bool performTypeTextOnUIView(const std::shared_ptr<UIView>& view, const std::optional<std::string>& text);
};
