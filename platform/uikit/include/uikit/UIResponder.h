// The responder chain: touches travel from a view to its next responder (its view
// controller when it is one's root view, else its superview; a window's next
// responder is the application) until some responder handles them.
#pragma once

#include <memory>
#include <vector>

#include "objc/runtime.h"

class UITouch;
class UIEvent;

// A set of touches (NSSet<UITouch *>): distinct touches in delivery order.
using UITouchSet = std::vector<std::shared_ptr<UITouch>>;

class UIResponder : public objc::Object {
  QV_OBJC_DECLARE_CLASS(UIResponder)
 public:
  UIResponder() = default;

  virtual std::shared_ptr<UIResponder> nextResponder() const;  // nullptr by default

  virtual bool canBecomeFirstResponder() const;  // false by default
  // A view becomes its window's first responder when it can and it is in a window;
  // the previous first responder resigns first. Returns whether it now is.
  virtual bool becomeFirstResponder();
  virtual bool canResignFirstResponder() const;  // true by default
  virtual bool resignFirstResponder();
  virtual bool isFirstResponder() const;

  // Touch handling; the defaults pass the touches on to the next responder.
  virtual void touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);
  virtual void touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event);

  // Called by the window after this responder gained or lost first-responder status.
  virtual void _didBecomeFirstResponder() {}
  virtual void _didResignFirstResponder() {}
};
