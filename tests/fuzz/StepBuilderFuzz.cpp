// The recording pipeline on view trees made from the input: a key window holding
// labels, buttons, text fields, switches, segmented controls, image views, scroll
// and table views, plain containers and run-time classes whose names make the
// agent treat them as switches, scroll views or web views, with any frames, hidden
// flags and texts (absent, empty, or bytes that are not UTF-8). The recording walk
// gives the views their identity, touches in any phase at any point go through the
// touch classifier, and every record it keeps is built into a step, as are steps
// for views the input names directly. Views may leave the tree between touches.
// In spy mode the classifier hands each touch that begins to the object spy.
//
// Checked: a kept touch record names a view with a recording GUID, at most one
// record per element meant (two touches on one view may mean two elements); spy
// mode keeps nothing; every build queues exactly one step, unless a web view
// (which records no step of its own) is where the finger was; every step is
// written as JSON that parses back to the same value, a list of one object with
// "action", "popupName" "" and "arguments" of exactly two objects.
// A spied touch queues at most one spy list: one record per described view, each
// of strings but its "parent", written as JSON that parses back the same, and as
// many views stored for a later highlight.
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzScreen.h"
#include "FuzzTarget.h"
#include "foundation/foundation.h"
#include "quorvel/model/UIViewsManager.h"
#include "quorvel/model/ViewIdentity.h"
#include "quorvel/recording/ElementInfo.h"
#include "quorvel/recording/ElementsQueue.h"
#include "quorvel/recording/RecorderAction.h"
#include "quorvel/recording/RecorderEvent.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/RecorderQueue.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/util/Utilities.h"
#include "uikit/uikit.h"

namespace {

// Reads the input front to back; past its end every read gives zero.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : byte() % n; }
  bool flag() { return byte() & 1; }
  // A coordinate from -512 to about 512, with a fraction now and then.
  double coordinate() {
    const double whole = static_cast<std::int8_t>(byte()) * 4.0;
    return flag() ? whole + byte() / 256.0 : whole;
  }
  double length() { return byte(); }
  // In reading order (the arguments of one call are evaluated in no fixed order).
  CGPoint point() {
    const double x = coordinate();
    return CGPointMake(x, coordinate());
  }
  CGSize size() {
    const double width = length();
    return CGSizeMake(width, length());
  }
  CGRect frame() {
    const CGPoint origin = point();
    return CGRect{origin, size()};
  }
  // Absent, or up to 24 bytes as they come: empty, ASCII, UTF-8 or not.
  std::optional<std::string> text() {
    const std::uint8_t kind = byte();
    if (kind % 5 == 0) return std::nullopt;
    std::string out;
    for (std::size_t n = below(25); n > 0 && !empty(); --n) out.push_back(static_cast<char>(byte()));
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Classes made at run time, as an application makes its own.
struct RuntimeClasses {
  objc::Class* toggleSwitch;  // answers isOn
  objc::Class* mutedSwitch;   // a "switch" by name that does not answer isOn
  objc::Class* pagerScrollView;
  objc::Class* webPane;
  objc::Class* segmentedControlLookalike;
};

const RuntimeClasses& runtimeClasses() {
  static const RuntimeClasses classes = [] {
    RuntimeClasses c{};
    c.toggleSwitch = objc::Class::allocateClassPair(UIView::classObject(), "FuzzToggleSwitch");
    c.toggleSwitch->addMethod<bool>("isOn", [](objc::Object& self) {
      return static_cast<UIView&>(self).bounds().size.width > 100;
    });
    c.mutedSwitch = objc::Class::allocateClassPair(UIButton::classObject(), "FuzzSwitchButton");
    c.pagerScrollView = objc::Class::allocateClassPair(UIScrollView::classObject(), "FuzzPagerScrollView");
    c.webPane = objc::Class::allocateClassPair(UIView::classObject(), "FuzzUIWebPane");
    c.segmentedControlLookalike = objc::Class::allocateClassPair(UIView::classObject(), "FuzzSegmentedControlBox");
    return c;
  }();
  return classes;
}

// Rows with texts from the input; the table holds its data source weakly.
class Rows : public UITableViewDataSource {
 public:
  std::vector<std::optional<std::string>> texts;

  long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override {
    return static_cast<long>(texts.size());
  }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                         NSIndexPath indexPath) override {
    auto cell = std::make_shared<UITableViewCell>();
    cell->textLabel()->setText(texts[static_cast<std::size_t>(indexPath.row)]);
    return cell;
  }
};

std::shared_ptr<UIView> makeView(Input& in, std::vector<std::shared_ptr<Rows>>& rows) {
  const CGRect frame = in.frame();
  const RuntimeClasses& classes = runtimeClasses();
  switch (in.below(13)) {
    case 0: {
      auto label = std::make_shared<UILabel>(frame);
      label->setText(in.text());
      return label;
    }
    case 1: {
      auto button = std::make_shared<UIButton>(frame);
      button->setTitle(in.text(), UIControlStateNormal);
      return button;
    }
    case 2: {
      auto field = std::make_shared<UITextField>(frame);
      field->setPlaceholder(in.text());
      field->setText(in.text());
      return field;
    }
    case 3: {
      auto toggle = std::make_shared<UISwitch>(frame);
      toggle->setOn(in.flag());
      return toggle;
    }
    case 4: {
      std::vector<std::string> items;
      for (std::size_t n = in.below(4); n > 0; --n) items.push_back(in.text().value_or(""));
      auto control = std::make_shared<UISegmentedControl>(frame)->initWithItems(items);
      control->setSelectedSegmentIndex(static_cast<long>(in.below(6)) - 1);
      return control;
    }
    case 5:
      return std::make_shared<UIImageView>(frame);
    case 6: {
      auto scroll = std::make_shared<UIScrollView>(frame);
      scroll->setClipsToBounds(in.flag());
      const CGSize content = in.size();
      scroll->setContentSize(CGSizeMake(content.width * 4, content.height * 4));
      scroll->setContentOffset(in.point());
      return scroll;
    }
    case 7: {
      auto table = std::make_shared<UITableView>(frame);
      auto source = std::make_shared<Rows>();
      for (std::size_t n = in.below(8); n > 0; --n) source->texts.push_back(in.text());
      rows.push_back(source);
      table->setDataSource(source);
      table->reloadData();
      return table;
    }
    case 8:
      return objc::makeInstanceOf<UIView>(classes.toggleSwitch, frame);
    case 9: {
      auto button = objc::makeInstanceOf<UIButton>(classes.mutedSwitch, frame);
      button->setTitle(in.text(), UIControlStateNormal);
      return button;
    }
    case 10: {
      auto pager = objc::makeInstanceOf<UIScrollView>(classes.pagerScrollView, frame);
      pager->setClipsToBounds(true);
      return pager;
    }
    case 11:
      return objc::makeInstanceOf<UIView>(in.flag() ? classes.webPane : classes.segmentedControlLookalike, frame);
    default: {
      auto container = std::make_shared<UIView>(frame);
      container->setClipsToBounds(in.flag());
      return container;
    }
  }
}

// Whether a web view is the view or below it: the finger was on a web page.
bool webViewAtOrBelow(const std::shared_ptr<UIView>& view) {
  if (Utilities::classNameContains(view, "uiweb")) return true;
  for (const auto& subview : view->subviews()) {
    if (webViewAtOrBelow(subview)) return true;
  }
  return false;
}

bool isWholeNumber(const JSONValue& value) {
  if (!value.is_string()) return false;
  const std::string text = value.get<std::string>();
  std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// A queue entry as the step sender writes it, read back.
JSONValue writtenAndReadBack(const JSONValue& entry) {
  std::string text;
  try {
    text = Utilities::convertNSArrayToString(entry);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "entry not writable: %s\n", e.what());
    QV_FUZZ_CHECK(!"every queued entry can be written as JSON");
  }
  JSONValue parsed = JSONValue::parse(text, nullptr, /*allow_exceptions=*/false);
  QV_FUZZ_CHECK(!parsed.is_discarded());
  QV_FUZZ_CHECK(parsed == entry);
  return parsed;
}

// The one step a build queued, checked as the step sender would send it.
void checkQueuedStep(const JSONValue& entry) {
  const JSONValue parsed = writtenAndReadBack(entry);
  QV_FUZZ_CHECK(parsed.is_array() && parsed.size() == 1);
  const JSONValue& step = parsed[0];
  QV_FUZZ_CHECK(step.is_object());
  static const std::set<std::string> actions{"Click", "ClickButton", "ClickImage", "Mobile_SelectSwitch",
                                             "Mobile_DeSelectSwitch", "TypeTextOnEditBox"};
  QV_FUZZ_CHECK(step.contains("action") && step["action"].is_string() &&
                actions.count(step["action"].get<std::string>()) == 1);
  QV_FUZZ_CHECK(step.contains("popupName") && step["popupName"] == "");
  QV_FUZZ_CHECK(step.contains("arguments") && step["arguments"].is_array() && step["arguments"].size() == 2);
  const JSONValue& element = step["arguments"][0];
  const JSONValue& data = step["arguments"][1];
  QV_FUZZ_CHECK(element.is_object() && data.is_object());
  QV_FUZZ_CHECK(data.size() == 2 && data.contains("type") && data["type"] == "string" && data.contains("data") &&
                data["data"].is_string());
  QV_FUZZ_CHECK(element.contains("mode") && element["mode"] == "native");
  QV_FUZZ_CHECK(element.contains("parent") && element["parent"].is_object());
  for (const char* key : {"X", "Y", "width", "height", "index"}) QV_FUZZ_CHECK(isWholeNumber(element[key]));
  for (const char* key : {"X", "Y", "width", "height"}) QV_FUZZ_CHECK(isWholeNumber(element["parent"][key]));
  QV_FUZZ_CHECK(element.value("elementText", JSONValue()) == element.value("name", JSONValue()));
  if (element.contains("xpath:position")) {
    const std::string xpath = element["xpath:position"].get<std::string>();
    QV_FUZZ_CHECK(xpath.size() > 3 && xpath.front() == '\\' && xpath.back() == ']');
  }
}

// The spy list of one spied touch: a record of each view from the element up to
// the window, all stored, the latest count being the list's length.
void checkSpyList(const JSONValue& entry, long keyBefore) {
  const JSONValue list = writtenAndReadBack(entry);
  QV_FUZZ_CHECK(list.is_array());
  auto storage = UIViewStorage::sharedObject();
  QV_FUZZ_CHECK(storage->count() == list.size());
  QV_FUZZ_CHECK(std::stol(storage->_key()) == keyBefore + static_cast<long>(list.size()));
  for (const auto& record : list) {
    QV_FUZZ_CHECK(record.is_object() && record.contains("parent") && record["parent"].is_object());
    for (const auto& [key, value] : record.items()) QV_FUZZ_CHECK(key == "parent" || value.is_string());
    QV_FUZZ_CHECK(record.value("mode", JSONValue()) == "native");
    QV_FUZZ_CHECK(record.value("tagName", JSONValue()) == record.value("class", JSONValue()));
    QV_FUZZ_CHECK(record.value("elementText", JSONValue()) == record.value("name", JSONValue()));
    QV_FUZZ_CHECK(record.contains("logicalname") && record.contains("id") && record.contains("label"));
    for (const char* key : {"X", "Y", "width", "height"}) {
      QV_FUZZ_CHECK(isWholeNumber(record[key]) && isWholeNumber(record["parent"][key]));
    }
  }
}

// Lets go of the views the spy stored for this input (their entries stay, as the
// storage keeps them for the life of the process), so that a long run does not
// keep every input's screen alive.
void releaseSpiedViews(long keyBefore) {
  auto storage = UIViewStorage::sharedObject();
  for (long key = keyBefore + 1; key <= std::stol(storage->_key()); ++key) {
    if (auto identifier = storage->identifierForKey(std::to_string(key))) storage->setViewForIdentifier(*identifier, nullptr);
  }
}

// Builds one step as the recorded-action thread does and checks what it queued.
void buildAndCheck(const std::string& action, const std::shared_ptr<UIView>& view, const std::string& data, CGPoint point) {
  QV_FUZZ_CHECK(RecorderQueue::get()->getLength() == 0);
  try {
    std::make_shared<RecorderAction>()->CreateRecorderAction(action, view, data, objc::id(), point.x, point.y);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "step not built: %s\n", e.what());
    QV_FUZZ_CHECK(!"building a step raises nothing");
  }
  const std::size_t queued = RecorderQueue::get()->getLength();
  if (queued == 0) {
    QV_FUZZ_CHECK(!view || webViewAtOrBelow(view));
    return;
  }
  QV_FUZZ_CHECK(queued == 1);
  checkQueuedStep(*RecorderQueue::get()->dequeue());
}

std::shared_ptr<UIEvent> touchEvent(const std::shared_ptr<UIWindow>& window, const std::shared_ptr<UIView>& view,
                                    CGPoint point, UITouchPhase phase) {
  auto touch = std::make_shared<UITouch>();
  touch->setWindow(window);
  touch->setTapCount(1);
  touch->_setLocationInWindow(point, phase == UITouchPhaseBegan);
  touch->setView(view);
  touch->setPhase(phase);
  touch->setTimestamp(NSProcessInfo::processInfo()->systemUptime());
  auto event = UIApplication::sharedApplication()->_touchesEvent();
  event->_clearTouches();
  event->_addTouch(touch, false);
  return event;
}

}  // namespace

QV_FUZZ_TARGET(step_builder) {
  // Every step renders its element: at one pixel per point the images stay small,
  // and an input takes milliseconds rather than tens of them.
  static const bool onePixelPerPoint = (UIScreen::mainScreen()->_setScale(1), true);
  (void)onePixelPerPoint;
  Input in(data, size);
  auto vars = GlobalVars::sharedInstance();
  // Recording mode, whatever other targets of this process did before.
  vars->set_isPlaybackStarted(std::nullopt);
  const bool spy = in.byte() == 0xA5;
  vars->set_spyMode(spy ? "true" : "false");
  vars->set_editAbleElement(nullptr);
  auto queue = ElementsQueue::sharedInstance();
  queue->takeBucket();

  const std::weak_ptr<UIWindow> previousKeyWindow = UIApplication::sharedApplication()->keyWindow();
  auto window = std::make_shared<UIWindow>(CGRectMake(0, 0, 390, 844));
  window->makeKeyAndVisible();
  std::vector<std::shared_ptr<UIView>> views;
  std::vector<std::shared_ptr<Rows>> rows;
  for (std::size_t n = in.below(48); n > 0 && !in.empty(); --n) {
    auto view = makeView(in, rows);
    view->setHidden(in.byte() < 40);
    if (in.flag()) view->setAccessibilityIdentifier(in.text());
    if (in.flag()) view->setAccessibilityLabel(in.text());
    const std::size_t parent = in.below(views.size() + 1);
    (parent == views.size() ? std::static_pointer_cast<UIView>(window) : views[parent])->addSubview(view);
    views.push_back(view);
  }
  window->layoutIfNeeded();
  std::make_shared<UIViewsManager>()->GetAllViews(window, true);

  auto classifier = std::make_shared<RecorderEvent>();
  const long spyKeyBefore = std::stol(UIViewStorage::sharedObject()->_key());
  std::size_t submitted = 0;
  for (std::size_t n = in.below(12); n > 0 && !in.empty(); --n) {
    const std::uint8_t op = in.byte();
    if (op < 24 && !views.empty()) {
      // A view leaves the screen between touches.
      views[in.below(views.size())]->removeFromSuperview();
      continue;
    }
    const CGPoint point = in.point();
    std::shared_ptr<UIView> view;
    if (in.flag() || views.empty()) {
      view = window->hitTest(point, nullptr);
    } else {
      view = views[in.below(views.size())];
    }
    const auto phase = static_cast<UITouchPhase>(in.below(5));
    const std::size_t before = queue->getElementsBucketSize();
    const long spyKey = std::stol(UIViewStorage::sharedObject()->_key());
    classifier->handleEvent(touchEvent(window, view, point, phase));
    submitted += queue->getElementsBucketSize() - before;
    // Only the spy queues anything here, and only for a touch that begins.
    const std::size_t spied = RecorderQueue::get()->getLength();
    QV_FUZZ_CHECK(spied <= (spy && phase == UITouchPhaseBegan && view ? 1u : 0u));
    if (spied == 1) checkSpyList(*RecorderQueue::get()->dequeue(), spyKey);
  }
  releaseSpiedViews(spyKeyBefore);

  // What the classifier kept: one record per element with a recording GUID, each
  // built into its step; typed texts before the touch that ended their field.
  const ElementsQueue::Records records = queue->takeBucket();
  QV_FUZZ_CHECK(records.size() == submitted);
  if (spy) QV_FUZZ_CHECK(records.empty());
  std::set<std::string> guids;
  for (const auto& record : records) {
    QV_FUZZ_CHECK(record->getUIView() != nullptr);
    if (record->getAction() == ElementInfo::kTypeTextAction) {
      QV_FUZZ_CHECK(!record->getDatArgs().empty());
      QV_FUZZ_CHECK(record->getUIView()->isKindOfClass(UITextField::classObject()));
    } else {
      QV_FUZZ_CHECK(record->getAction() == ElementInfo::kClickAction);
      QV_FUZZ_CHECK(ViewIdentity::getRecordingGUID(record->getUIView()).has_value());
      // Two touches on one view are two records when they meant different elements.
      const auto& capture = record->getCapture();
      QV_FUZZ_CHECK(capture != nullptr);
      const auto key = queue->recordKey(record->getUIView(), capture->element);
      QV_FUZZ_CHECK(key.has_value());
      QV_FUZZ_CHECK(guids.insert(*key).second);
    }
    buildAndCheck(record->getAction(), record->getUIView(), record->getDatArgs(), record->getTouchedPoint());
  }

  // Steps for views named directly: hidden, without identity, off the screen.
  for (std::size_t n = in.below(4); n > 0 && !views.empty() && !in.empty(); --n) {
    const auto& view = views[in.below(views.size())];
    const bool typed = in.flag();
    const CGPoint point = in.point();
    buildAndCheck(typed ? ElementInfo::kTypeTextAction : ElementInfo::kClickAction, view,
                  typed ? in.text().value_or("") : "", point);
  }

  vars->set_editAbleElement(nullptr);
  vars->set_webViewBase64Image(std::nullopt);
  // The other targets of a process keep their screen.
  if (auto previous = previousKeyWindow.lock()) previous->makeKeyWindow();
  qvfuzz::turnMainRunLoop();
  return 0;
}
