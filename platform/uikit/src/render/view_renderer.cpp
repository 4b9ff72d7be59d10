// Drawing of view hierarchies into the current image context. Views are read only
// through their thread-safe accessors, so a hierarchy can be drawn from any thread
// while the main thread changes it; each view is drawn from one snapshot of its
// own properties.
#include <algorithm>
#include <cmath>

#include "dispatch/dispatch.h"
#include "render/graphics_context.h"
#include "render/text_drawing.h"
#include "uikit/CATransaction.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIApplication.h"
#include "uikit/UIGraphics.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationBar.h"
#include "uikit/UIScreen.h"
#include "uikit/UISegment.h"
#include "uikit/UISwitch.h"
#include "uikit/UITabBar.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"
#include "uikit/UIWindow.h"
#include "uikit/_UINavigationBarBackIndicatorView.h"

using uikit_render::addRoundedRect;
using uikit_render::drawText;
using uikit_render::setSourceColor;
using uikit_render::TextStyle;

namespace {

// Deeper hierarchies are cut off rather than risking the drawing thread's stack.
constexpr int kMaxDepth = 256;

CGColorRef gray(CGFloat white, CGFloat alpha = 1) { return CGColorCreateGenericGray(white, alpha); }

CGColorRef cgColor(const std::shared_ptr<UIColor>& color, CGColorRef fallback) {
  return color ? color->CGColor() : std::move(fallback);
}

void hairline(cairo_t* cr, double x0, double x1, double y, const CGColorRef& color) {
  cairo_save(cr);
  setSourceColor(cr, color);
  cairo_set_line_width(cr, 0.5);
  cairo_move_to(cr, x0, y);
  cairo_line_to(cr, x1, y);
  cairo_stroke(cr);
  cairo_restore(cr);
}

void drawLabel(cairo_t* cr, const UILabel& label, CGRect box) {
  auto text = label.text();
  if (!text) return;
  TextStyle style;
  style.fontSize = label.fontSize();
  style.bold = label.isBold();
  style.color = cgColor(label.textColor(), gray(0));
  style.alignment = label.textAlignment();
  style.numberOfLines = label.numberOfLines();
  drawText(cr, *text, box, style);
}

std::string bullets(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) out += "\xE2\x80\xA2";  // one bullet per character
  }
  return out;
}

void drawTextField(cairo_t* cr, const UITextField& field, CGRect box) {
  UITextBorderStyle border = field.borderStyle();
  if (border == UITextBorderStyleRoundedRect) {
    addRoundedRect(cr, CGRectInset(box, 0.25, 0.25), 5);
    setSourceColor(cr, gray(1));
    cairo_fill_preserve(cr);
    setSourceColor(cr, gray(0.8));
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
  } else if (border == UITextBorderStyleLine || border == UITextBorderStyleBezel) {
    cairo_rectangle(cr, 0.5, 0.5, box.size.width - 1, box.size.height - 1);
    setSourceColor(cr, border == UITextBorderStyleLine ? gray(0) : gray(0.6));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
  }
  CGFloat inset = border == UITextBorderStyleNone ? 0 : 7;
  CGRect textBox = CGRectInset(box, inset, 0);
  std::string text = field.text().value_or("");
  TextStyle style;
  style.fontSize = field.fontSize();
  style.alignment = field.textAlignment();
  if (!text.empty()) {
    style.color = cgColor(field.textColor(), gray(0));
    drawText(cr, field.isSecureTextEntry() ? bullets(text) : text, textBox, style);
  } else if (auto placeholder = field.placeholder()) {
    style.color = CGColorCreateSRGB(0.78, 0.78, 0.8, 1);
    drawText(cr, *placeholder, textBox, style);
  }
}

void drawTextView(cairo_t* cr, const UITextView& view, CGRect box, CGPoint offset) {
  std::string text = view.text().value_or("");
  if (text.empty()) return;
  TextStyle style;
  style.fontSize = view.fontSize();
  style.color = cgColor(view.textColor(), gray(0));
  style.alignment = view.textAlignment();
  style.numberOfLines = 0;
  style.centerVertically = false;
  // The text lies in the content, which the bounds origin scrolls.
  CGRect textBox{{8 - offset.x, 8 - offset.y}, {std::max(0.0, box.size.width - 16), 1e6}};
  drawText(cr, text, textBox, style);
}

void drawSwitch(cairo_t* cr, const UISwitch& control, CGRect box) {
  bool on = control._isOnValue();
  CGFloat h = box.size.height, w = box.size.width;
  if (h <= 0 || w <= 0) return;
  if (!control.isEnabled()) cairo_push_group(cr);
  addRoundedRect(cr, box, h / 2);
  if (on) {
    setSourceColor(cr, cgColor(control.onTintColor(), CGColorCreateSRGB(0.2, 0.78, 0.35, 1)));
    cairo_fill(cr);
  } else {
    setSourceColor(cr, gray(0.92));
    cairo_fill_preserve(cr);
    setSourceColor(cr, gray(0.85));
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
  }
  double radius = std::max(1.0, h / 2 - 2);
  double cx = on ? w - h / 2 : h / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, h / 2, radius, 0, 2 * M_PI);
  setSourceColor(cr, gray(1));
  cairo_fill_preserve(cr);
  setSourceColor(cr, gray(0.7));
  cairo_set_line_width(cr, 0.5);
  cairo_stroke(cr);
  if (!control.isEnabled()) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, 0.5);
  }
}

void drawImageView(const UIImageView& view, CGRect box) {
  auto image = view.image();
  if (!image) return;
  CGSize size = image->size();
  if (size.width <= 0 || size.height <= 0) return;
  // Scaled to fit, keeping the aspect ratio, centred.
  double scale = std::min(box.size.width / size.width, box.size.height / size.height);
  CGSize drawn{size.width * scale, size.height * scale};
  image->drawInRect({{(box.size.width - drawn.width) / 2, (box.size.height - drawn.height) / 2}, drawn});
}

void drawBackChevron(cairo_t* cr, const UIView& view, CGRect box) {
  double mid = box.size.height / 2;
  cairo_save(cr);
  setSourceColor(cr, cgColor(view.tintColor(), gray(0)));
  cairo_set_line_width(cr, 2.5);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_move_to(cr, 13, mid - 8);
  cairo_line_to(cr, 6, mid);
  cairo_line_to(cr, 13, mid + 8);
  cairo_stroke(cr);
  cairo_restore(cr);
}

// The look of the toolkit's classes that is not made of subviews and colours.
void drawContent(cairo_t* cr, UIView& view, CGRect box, CGPoint boundsOrigin) {
  if (auto* label = dynamic_cast<UILabel*>(&view)) {
    drawLabel(cr, *label, box);
  } else if (auto* field = dynamic_cast<UITextField*>(&view)) {
    drawTextField(cr, *field, box);
  } else if (auto* textView = dynamic_cast<UITextView*>(&view)) {
    drawTextView(cr, *textView, box, boundsOrigin);
  } else if (auto* control = dynamic_cast<UISwitch*>(&view)) {
    drawSwitch(cr, *control, box);
  } else if (auto* imageView = dynamic_cast<UIImageView*>(&view)) {
    drawImageView(*imageView, box);
  } else if (auto* segment = dynamic_cast<UISegment*>(&view)) {
    if (segment->isSelected()) {
      addRoundedRect(cr, CGRectInset(box, 2, 2), 6);
      setSourceColor(cr, gray(0.75));
      cairo_set_line_width(cr, 0.5);
      cairo_stroke(cr);
    }
  } else if (dynamic_cast<UITableViewCell*>(&view)) {
    hairline(cr, 16, box.size.width, box.size.height - 0.25, gray(0.85));
  } else if (dynamic_cast<UINavigationBar*>(&view)) {
    hairline(cr, 0, box.size.width, box.size.height - 0.25, gray(0.7));
  } else if (dynamic_cast<UITabBar*>(&view)) {
    hairline(cr, 0, box.size.width, 0.25, gray(0.7));
  } else if (dynamic_cast<_UINavigationBarBackIndicatorView*>(&view)) {
    drawBackChevron(cr, view, box);
  } else if (dynamic_cast<UIButton*>(&view) && std::dynamic_pointer_cast<UIAlertView>(view.superview())) {
    hairline(cr, 0, box.size.width, 0.25, gray(0.8));  // the line above an alert's button
    if (view.frame().origin.x > 0) {
      cairo_save(cr);
      setSourceColor(cr, gray(0.8));
      cairo_set_line_width(cr, 0.5);
      cairo_move_to(cr, 0.25, 0);
      cairo_line_to(cr, 0.25, box.size.height);
      cairo_stroke(cr);
      cairo_restore(cr);
    }
  }
}

void renderView(CGContextRef context, const std::shared_ptr<UIView>& view, int depth) {
  if (depth > kMaxDepth || view->isHidden()) return;
  CGFloat alpha = view->alpha();
  if (alpha < 0.01) return;
  cairo_t* cr = context->cr;
  CGRect bounds = view->bounds();
  CGRect box{{0, 0}, bounds.size};
  auto layer = view->layer();
  CGFloat radius = layer->cornerRadius();

  cairo_save(cr);
  bool group = alpha < 1;
  if (group) cairo_push_group(cr);

  if (auto background = layer->backgroundColor(); CGColorGetAlpha(background) > 0) {
    if (dynamic_cast<UISegment*>(view.get()) && radius == 0) {
      // A segment's highlight is a rounded tile inside the control's rounded track.
      addRoundedRect(cr, CGRectInset(box, 2, 2), 6);
    } else {
      addRoundedRect(cr, box, radius);
    }
    setSourceColor(cr, background);
    cairo_fill(cr);
  }
  cairo_save(cr);
  if (view->clipsToBounds()) {
    addRoundedRect(cr, box, radius);
    cairo_clip(cr);
  }
  drawContent(cr, *view, box, bounds.origin);
  // Own drawing and subviews are in bounds coordinates: the bounds origin scrolls.
  cairo_translate(cr, -bounds.origin.x, -bounds.origin.y);
  cairo_save(cr);
  view->drawRect(bounds);
  cairo_restore(cr);
  for (const auto& subview : view->subviews()) {
    CGRect frame = subview->frame();
    cairo_save(cr);
    cairo_translate(cr, frame.origin.x, frame.origin.y);
    renderView(context, subview, depth + 1);
    cairo_restore(cr);
  }
  cairo_restore(cr);

  if (CGFloat width = layer->borderWidth(); width > 0) {
    addRoundedRect(cr, CGRectInset(box, width / 2, width / 2), std::max(0.0, radius - width / 2));
    setSourceColor(cr, layer->borderColor());
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
  }

  if (group) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
  }
  cairo_restore(cr);
}

}  // namespace

void UIView::drawRect(CGRect) {}

bool UIView::drawViewHierarchyInRect(CGRect rect, bool afterScreenUpdates) {
  CGContextRef context = UIGraphicsGetCurrentContext();
  auto self = selfView();
  if (!context || !self) return false;
  if (afterScreenUpdates && dispatch_is_main_thread()) {
    CATransaction::flush();
    layoutIfNeeded();
  }
  rect = CGRectStandardize(rect);
  CGSize size = bounds().size;
  uikit_render::CairoLock lock(uikit_render::cairoMutex());
  if (CGRectIsEmpty(rect) || size.width <= 0 || size.height <= 0) return true;
  cairo_t* cr = context->cr;
  cairo_save(cr);
  cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  cairo_clip(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, rect.size.width / size.width, rect.size.height / size.height);
  renderView(context, self, 0);
  cairo_restore(cr);
  return true;
}

std::shared_ptr<UIImage> UIScreenSnapshotImage(bool afterScreenUpdates) {
  auto screen = UIScreen::mainScreen();
  CGRect screenBounds = screen->bounds();
  UIGraphicsBeginImageContextWithOptions(screenBounds.size, true, screen->scale());
  CGContextRef context = UIGraphicsGetCurrentContext();
  if (afterScreenUpdates && dispatch_is_main_thread()) CATransaction::flush();
  for (const auto& window : UIApplication::sharedApplication()->windows()) {
    if (window->isHidden()) continue;
    CGRect frame = window->frame();
    frame.origin.x -= screenBounds.origin.x;
    frame.origin.y -= screenBounds.origin.y;
    CGContextSaveGState(context);
    window->drawViewHierarchyInRect(frame, false);
    CGContextRestoreGState(context);
  }
  auto image = UIGraphicsGetImageFromCurrentImageContext();
  UIGraphicsEndImageContext();
  return image;
}
