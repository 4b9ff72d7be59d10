// A view for tests that records every touch delivery it gets and handles the
// touches itself (nothing goes on up the responder chain).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "uikit/uikit.h"

namespace qvtest {

class TouchRecorder : public UIView {
 public:
  using UIView::UIView;
  struct Delivery {
    UITouchPhase phase;
    std::size_t touches;   // in this call
    CGPoint inWindow;      // the first touch's location
    CGPoint inView;
  };
  void touchesBegan(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { record(t); }
  void touchesMoved(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { record(t); }
  void touchesEnded(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { record(t); }
  void touchesCancelled(const UITouchSet& t, const std::shared_ptr<UIEvent>&) override { record(t); }
  bool canBecomeFirstResponder() const override { return focusable; }

  std::vector<UITouchPhase> phases() const {
    std::vector<UITouchPhase> out;
    for (const auto& d : seen) out.push_back(d.phase);
    return out;
  }
  std::vector<CGPoint> locationsInWindow() const {
    std::vector<CGPoint> out;
    for (const auto& d : seen) out.push_back(d.inWindow);
    return out;
  }
  std::vector<CGPoint> locationsInView() const {
    std::vector<CGPoint> out;
    for (const auto& d : seen) out.push_back(d.inView);
    return out;
  }

  std::vector<Delivery> seen;    // main thread only
  std::vector<std::string> log;  // "phase N" per delivery; tests add their own lines
  bool focusable = false;

 private:
  void record(const UITouchSet& touches) {
    const auto& touch = touches.front();
    seen.push_back({touch->phase(), touches.size(), touch->locationInView(nullptr),
                    touch->locationInView(self<UIView>())});
    log.push_back("phase " + std::to_string(touch->phase()));
  }
};

}  // namespace qvtest
