#include "uikit/UIResponder.h"

QV_OBJC_DEFINE_CLASS(UIResponder, objc::Object)

std::shared_ptr<UIResponder> UIResponder::nextResponder() const { return nullptr; }
bool UIResponder::canBecomeFirstResponder() const { return false; }
bool UIResponder::becomeFirstResponder() { return false; }
bool UIResponder::canResignFirstResponder() const { return true; }
bool UIResponder::resignFirstResponder() { return true; }
bool UIResponder::isFirstResponder() const { return false; }

void UIResponder::touchesBegan(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (auto next = nextResponder()) next->touchesBegan(touches, event);
}
void UIResponder::touchesMoved(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (auto next = nextResponder()) next->touchesMoved(touches, event);
}
void UIResponder::touchesEnded(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (auto next = nextResponder()) next->touchesEnded(touches, event);
}
void UIResponder::touchesCancelled(const UITouchSet& touches, const std::shared_ptr<UIEvent>& event) {
  if (auto next = nextResponder()) next->touchesCancelled(touches, event);
}
