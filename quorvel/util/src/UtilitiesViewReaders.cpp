// The view readers: class name, accessibility texts and the two text variants.
// They run on the main thread and on the inventory walk's background thread, so
// they use only the toolkit's thread-safe read accessors.
#include <exception>

#include "foundation/log.h"
#include "foundation/string.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIAccessibility.h"
#include "uikit/UIBarButtonItem.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UINavigationItem.h"
#include "uikit/UISegmentedControl.h"
#include "uikit/UITabBarItem.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"
#include "uikit/UIView.h"

namespace {

using Text = Utilities::Text;

// The object when its run-time class is T's class or a subclass of it.
template <class T>
std::shared_ptr<T> kindOf(const objc::id& object) {
  if (!object || !object->isKindOfClass(T::classObject())) return nullptr;
  return std::dynamic_pointer_cast<T>(object);
}

const UIAccessibility* accessibility(const objc::id& object) {
  return dynamic_cast<const UIAccessibility*>(object.get());
}

std::shared_ptr<UIView> superviewOf(const objc::id& object) {
  auto view = kindOf<UIView>(object);
  return view ? view->superview() : nullptr;
}

const char* const kSegmentedControl = "segmentedcontrol";
const char* const kFoundSegmentedControl = "***FOUND UISEGMENTCONTROL";

}  // namespace

Text Utilities::getUIViewClassName(const objc::id& object) {
  if (!object) return std::nullopt;
  return object->className();
}

Text Utilities::getUIViewAccesibilityId(const objc::id& view) {
  const UIAccessibility* a = accessibility(view);
  if (!a) return std::string();
  return a->accessibilityIdentifier().value_or(std::string());
}

Text Utilities::getUIViewAccesibilityLabel(const objc::id& view) {
  const UIAccessibility* a = accessibility(view);
  if (!a) return std::string();
  if (auto value = a->accessibilityValue()) return value;
  if (auto label = a->accessibilityLabel()) return label;
  if (auto hint = a->accessibilityHint()) return hint;
  return std::string();
}

Text Utilities::getUIViewText(const objc::id& view) {
  if (!view) return std::nullopt;
  if (auto label = kindOf<UILabel>(view)) return label->text();
  if (auto button = kindOf<UIButton>(view)) return button->currentTitle();
  if (auto field = kindOf<UITextField>(view)) return field->placeholder();
  if (auto item = kindOf<UINavigationItem>(view)) return item->title();
  if (auto item = kindOf<UIBarButtonItem>(view)) return item->title();
  if (auto textView = kindOf<UITextView>(view)) return textView->text();
  if (auto cell = kindOf<UITableViewCell>(view)) return cell->text();
  if (auto item = kindOf<UITabBarItem>(view)) return item->title();
  if (auto control = kindOf<UISegmentedControl>(view)) return control->accessibilityValue();
  if (auto superview = superviewOf(view); Utilities::classNameContains(superview, kSegmentedControl)) {
    // A superview that only carries such a name has no segment titles: like a
    // failure while reading them, it falls back to the accessibility texts.
    try {
      NSLog(kFoundSegmentedControl);
      if (auto control = kindOf<UISegmentedControl>(superview)) {
        // No selection (-1) asks for an index out of range, which has no title.
        return control->titleForSegmentAtIndex(static_cast<unsigned long>(control->selectedSegmentIndex()));
      }
    } catch (const std::exception&) {
    }
  }
  return getUIViewAccesibilityLabel(view);
}

std::string Utilities::secureText(const std::string& text) {
  std::string bullets;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) bullets += "\xE2\x80\xA2";  // one bullet per character
  }
  return bullets;
}

Text Utilities::getUIViewTextForPlayBack(const objc::id& view) {
  if (!view) return std::nullopt;
  if (auto label = kindOf<UILabel>(view)) {
    if (auto text = label->text()) return text;
  }
  if (auto button = kindOf<UIButton>(view)) {
    if (auto title = button->currentTitle()) return title;
  }
  if (auto field = kindOf<UITextField>(view)) {
    auto text = field->text();
    if (text && !text->empty() && field->isSecureTextEntry()) return secureText(*text);
    if (!text || !text->empty()) return text;
    return field->placeholder();
  }
  if (auto item = kindOf<UINavigationItem>(view)) {
    if (auto title = item->title()) return title;
  }
  if (auto item = kindOf<UIBarButtonItem>(view)) {
    if (auto title = item->title()) return title;
  }
  if (auto textView = kindOf<UITextView>(superviewOf(view))) {
    if (auto text = textView->text()) return text;
  }
  if (auto textView = kindOf<UITextView>(view)) {
    if (auto text = textView->text()) return text;
  }
  if (auto cell = kindOf<UITableViewCell>(view)) {
    if (auto text = cell->text()) return text;
  }
  if (auto item = kindOf<UITabBarItem>(view)) {
    if (auto title = item->title()) return title;
  }
  if (Utilities::classNameContains(view, kSegmentedControl)) {
    try {
      NSLog(kFoundSegmentedControl);
      if (auto control = kindOf<UISegmentedControl>(view)) {
        // Bounded by the number of subviews, not of segments; a segment index
        // without a title reads "(null)", as the platform formatter prints it.
        std::string joined;
        std::size_t subviews = control->subviews().size();
        for (std::size_t i = 0; i < subviews; ++i) {
          if (!joined.empty()) joined += ";";
          joined += control->titleForSegmentAtIndex(i).value_or("(null)");
        }
        return joined;
      }
    } catch (const std::exception&) {
    }
  }
  return getUIViewAccesibilityLabel(view);
}

bool Utilities::classNameContains(const objc::id& object, std::string_view lowerCasePart) {
  if (!object) return false;
  return foundation::lowercaseString(object->className()).find(lowerCasePart) != std::string::npos;
}
