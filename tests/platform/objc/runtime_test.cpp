#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "objc/runtime.h"

using objc::Class;
using objc::NSException;
using objc::Object;
using ::testing::MatchesRegex;

namespace {

// A platform class whose C++ wrapper messages itself through the method table, as
// the platform's own classes do for the selectors that may be exchanged.
class Gadget : public Object {
  QV_OBJC_DECLARE_CLASS(Gadget)
 public:
  std::string doThing(int n) { return objc::msgSend<std::string>(*this, "doThing:", n); }

  std::string title;
  int level = 0;
};

objc::Class* Gadget::classObject() {
  static Class* cls = Class::registerClass("Gadget", Object::classObject(), [](Class* c) {
    c->addMethod<std::string, int>("doThing:", [](Object&, int n) { return "thing " + std::to_string(n); });
    c->addMethod<std::any>("title", [](Object& self) -> std::any { return static_cast<Gadget&>(self).title; });
    c->addMethod<void, std::any>("setTitle:", [](Object& self, std::any v) {
      static_cast<Gadget&>(self).title = std::any_cast<std::string>(v);
    });
    // A getter of the wrong shape for key-value access.
    c->addMethod<int>("level", [](Object& self) { return static_cast<Gadget&>(self).level; });
  });
  return cls;
}
[[maybe_unused]] const bool kGadgetFactory = objc::registerDefaultFactory<Gadget>();

// A platform class without a default constructor: nothing can make one by name.
class Sealed : public Object {
  QV_OBJC_DECLARE_CLASS(Sealed)
 public:
  explicit Sealed(int value) : value(value) {}
  int value;
};
QV_OBJC_DEFINE_CLASS(Sealed, objc::Object)

std::string expectRaise(const std::function<void()>& fn, const std::string& name) {
  try {
    fn();
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), name);
    return e.reason().value_or("");
  }
  ADD_FAILURE() << "no " << name << " raised";
  return {};
}

TEST(ObjcClassTest, RegistryLookupAndHierarchy) {
  EXPECT_EQ(Class::named("Gadget"), Gadget::classObject());
  EXPECT_EQ(objc::NSClassFromString("NSObject"), Object::classObject());
  EXPECT_EQ(Class::named("NoSuchClassAnywhere"), nullptr);
  EXPECT_EQ(Class::registerClass("Gadget", Object::classObject()), Gadget::classObject());

  auto gadget = std::make_shared<Gadget>();
  EXPECT_EQ(gadget->className(), "Gadget");
  EXPECT_TRUE(gadget->isKindOfClass("NSObject"));
  EXPECT_TRUE(gadget->isMemberOfClass(Gadget::classObject()));
  EXPECT_FALSE(gadget->isKindOfClass("NoSuchClassAnywhere"));
  EXPECT_FALSE(std::make_shared<Object>()->isKindOfClass(Gadget::classObject()));
  EXPECT_THAT(gadget->description(), MatchesRegex("<Gadget: 0x[0-9a-f]+>"));
}

TEST(ObjcClassTest, RuntimeSubclassOfPlatformClass) {
  Class* toggle = Class::allocateClassPair(Gadget::classObject(), "MyToggleGadget");
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(Class::allocateClassPair(Gadget::classObject(), "MyToggleGadget"), nullptr);
  EXPECT_EQ(Class::allocateClassPair(Gadget::classObject(), ""), nullptr);
  EXPECT_EQ(Class::named("MyToggleGadget"), toggle);
  EXPECT_EQ(toggle->superclass(), Gadget::classObject());

  auto made = toggle->createInstance();
  ASSERT_NE(made, nullptr);
  ASSERT_NE(objc::cast<Gadget>(made), nullptr);  // the platform type does the work
  EXPECT_EQ(made->className(), "MyToggleGadget");
  EXPECT_TRUE(made->isKindOfClass(Gadget::classObject()));
  EXPECT_FALSE(made->isMemberOfClass(Gadget::classObject()));
  EXPECT_TRUE(made->respondsToSelector("doThing:"));
  EXPECT_FALSE(made->respondsToSelector("undo:"));
  EXPECT_EQ(objc::cast<Gadget>(made)->doThing(1), "thing 1");

  // An override on the subclass changes its instances only.
  EXPECT_TRUE((toggle->addMethod<std::string, int>("doThing:", [](Object&, int n) { return "toggled " + std::to_string(n); })));
  EXPECT_FALSE((toggle->addMethod<std::string, int>("doThing:", [](Object&, int) { return std::string(); })));
  EXPECT_EQ(objc::cast<Gadget>(made)->doThing(2), "toggled 2");
  EXPECT_EQ(std::make_shared<Gadget>()->doThing(2), "thing 2");
  EXPECT_EQ(toggle->ownMethodNames(), std::vector<objc::SEL>{"doThing:"});

  auto wrapped = objc::makeInstanceOf<Gadget>(toggle);
  EXPECT_EQ(wrapped->className(), "MyToggleGadget");
  EXPECT_EQ(objc::object_getClassName(*wrapped), "MyToggleGadget");
}

TEST(ObjcClassTest, CreateInstanceMakesTheRightPlatformType) {
  auto plain = Object::classObject()->createInstance();
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->className(), "NSObject");

  auto gadget = Gadget::classObject()->createInstance();
  ASSERT_NE(objc::cast<Gadget>(gadget), nullptr);

  // A class whose platform type cannot be made by name gives nothing, rather than
  // an object of another type dressed up with its class (whose methods would then
  // operate on the wrong object).
  EXPECT_EQ(Sealed::classObject()->createInstance(), nullptr);
  Class* sub = Class::allocateClassPair(Sealed::classObject(), "MySealedSubclass");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->createInstance(), nullptr);
  EXPECT_EQ(std::make_shared<Sealed>(4)->className(), "Sealed");
}

TEST(ObjcMessagingTest, UnrecognizedSelectorAndWrongSignatureRaise) {
  auto gadget = std::make_shared<Gadget>();
  std::string reason = expectRaise([&] { objc::msgSend(*gadget, "frobnicate:", 1); }, "NSInvalidArgumentException");
  EXPECT_EQ(reason, "-[Gadget frobnicate:]: unrecognized selector sent to instance " + gadget->addressText());
  EXPECT_THAT(reason, MatchesRegex(".*instance 0x[0-9a-f]+"));

  Class* sub = Class::allocateClassPair(Gadget::classObject(), "MyQuietGadget");
  auto quiet = sub->createInstance();
  EXPECT_THAT(expectRaise([&] { objc::msgSend(*quiet, "undo"); }, "NSInvalidArgumentException"),
              MatchesRegex("-\\[MyQuietGadget undo\\]: unrecognized selector sent to instance 0x[0-9a-f]+"));

  // The right selector with the wrong argument or result types is refused.
  expectRaise([&] { objc::msgSend<std::string>(*gadget, "doThing:", 1.5); }, "NSInvalidArgumentException");
  expectRaise([&] { objc::msgSend<int>(*gadget, "doThing:", 1); }, "NSInvalidArgumentException");
}

// A class of its own for each exchange test, so that no test sees another's swap.
Class* makeSwizzleClass(const std::string& name) {
  Class* cls = Class::allocateClassPair(Gadget::classObject(), name);
  cls->addMethod<std::string, int>("doThing:", [](Object&, int n) { return "thing " + std::to_string(n); });
  // The replacement calls through to the original under its own selector.
  cls->addMethod<std::string, int>("qv_doThing:", [](Object& self, int n) {
    return "[" + objc::msgSend<std::string>(self, "qv_doThing:", n) + "]";
  });
  return cls;
}

TEST(ObjcMessagingTest, ExchangeRedirectsPlatformCallsAndCallsThrough) {
  Class* cls = makeSwizzleClass("SwizzledGadget");
  auto gadget = std::static_pointer_cast<Gadget>(cls->createInstance());
  ASSERT_NE(gadget, nullptr);
  EXPECT_EQ(gadget->doThing(3), "thing 3");

  objc::method_exchangeImplementations(cls->getInstanceMethod("doThing:"), cls->getInstanceMethod("qv_doThing:"));
  EXPECT_EQ(gadget->doThing(3), "[thing 3]");  // the wrapper's own call is redirected
  EXPECT_EQ(objc::msgSend<std::string>(*gadget, "qv_doThing:", 4), "thing 4");
  EXPECT_EQ(std::make_shared<Gadget>()->doThing(3), "thing 3");  // the superclass is untouched

  objc::method_exchangeImplementations(cls->getInstanceMethod("doThing:"), cls->getInstanceMethod("qv_doThing:"));
  EXPECT_EQ(gadget->doThing(3), "thing 3");

  cls->addMethod<void>("reset", [](Object&) {});
  expectRaise([&] { objc::method_exchangeImplementations(cls->getOwnMethod("doThing:"), cls->getOwnMethod("reset")); },
              "NSInvalidArgumentException");
  EXPECT_EQ(gadget->doThing(5), "thing 5");
  objc::method_exchangeImplementations(nullptr, cls->getOwnMethod("reset"));  // ignored

  // replaceMethod hands back the previous implementation.
  std::function<std::string(Object&, int)> replaced = [](Object&, int) { return std::string("replaced"); };
  objc::IMP previous = cls->replaceMethodImp("doThing:", objc::IMP::make(replaced));
  EXPECT_TRUE(previous);
  EXPECT_EQ(gadget->doThing(1), "replaced");
  EXPECT_FALSE(cls->replaceMethodImp("fresh", objc::IMP::make(std::function<void(Object&)>([](Object&) {}))));
  EXPECT_TRUE(gadget->respondsToSelector("fresh"));
}

TEST(ObjcMessagingTest, ConcurrentExchangesAndMessagesStayConsistent) {
  Class* cls = Class::allocateClassPair(Gadget::classObject(), "RacingGadget");
  cls->addMethod<int>("left", [](Object&) { return 1; });
  cls->addMethod<int>("right", [](Object&) { return 2; });
  auto gadget = cls->createInstance();
  objc::Method* left = cls->getInstanceMethod("left");
  objc::Method* right = cls->getInstanceMethod("right");

  constexpr int kExchangesPerThread = 50000;  // an even total: the table ends as it began
  std::atomic<bool> stop{false};
  std::atomic<int> badResults{0};
  std::thread caller([&] {
    while (!stop) {
      int l = objc::msgSend<int>(*gadget, "left");
      if (l != 1 && l != 2) ++badResults;
    }
  });
  std::vector<std::thread> swappers;
  for (int t = 0; t < 4; ++t) {
    swappers.emplace_back([&] {
      for (int i = 0; i < kExchangesPerThread; ++i) objc::method_exchangeImplementations(left, right);
    });
  }
  for (auto& t : swappers) t.join();
  stop = true;
  caller.join();

  EXPECT_EQ(badResults, 0);
  // No exchange was lost, and the two entries never ended up sharing one implementation.
  EXPECT_EQ(objc::msgSend<int>(*gadget, "left"), 1);
  EXPECT_EQ(objc::msgSend<int>(*gadget, "right"), 2);
}

TEST(ObjcKeyValueTest, ValueForKeyAndSetValueForKey) {
  auto gadget = std::make_shared<Gadget>();
  gadget->setValueForKey("title", std::string("Switch"));
  EXPECT_EQ(gadget->title, "Switch");
  EXPECT_EQ(std::any_cast<std::string>(gadget->valueForKey("title")), "Switch");

  std::string reason = expectRaise([&] { gadget->valueForKey("missing"); }, "NSUnknownKeyException");
  EXPECT_THAT(reason, ::testing::HasSubstr("not key value coding-compliant for the key missing"));
  expectRaise([&] { gadget->setValueForKey("missing", 1); }, "NSUnknownKeyException");
  expectRaise([&] { gadget->setValueForKey("", 1); }, "NSUnknownKeyException");
  expectRaise([&] { gadget->valueForKey("level"); }, "NSUnknownKeyException");  // not a key-value getter

  // Runtime subclasses inherit key-value access.
  auto sub = Class::allocateClassPair(Gadget::classObject(), "MyKeyedGadget")->createInstance();
  sub->setValueForKey("title", std::string("inherited"));
  EXPECT_EQ(std::any_cast<std::string>(sub->valueForKey("title")), "inherited");
}

TEST(ObjcAssociatedObjectTest, AttachReplaceRemoveAndRelease) {
  static const char kKeyA = 0, kKeyB = 0;
  auto payload = std::make_shared<int>(42);
  std::weak_ptr<int> watch = payload;
  {
    auto gadget = std::make_shared<Gadget>();
    EXPECT_FALSE(gadget->associatedObject(&kKeyA).has_value());
    gadget->setAssociatedObject(&kKeyA, payload);
    gadget->setAssociatedObject(&kKeyB, std::string("b"));
    payload.reset();
    EXPECT_EQ(*std::any_cast<std::shared_ptr<int>>(gadget->associatedObject(&kKeyA)), 42);
    EXPECT_EQ(std::any_cast<std::string>(gadget->associatedObject(&kKeyB)), "b");

    gadget->setAssociatedObject(&kKeyB, std::string("b2"));
    EXPECT_EQ(std::any_cast<std::string>(gadget->associatedObject(&kKeyB)), "b2");
    gadget->setAssociatedObject(&kKeyB, std::any());
    EXPECT_FALSE(gadget->associatedObject(&kKeyB).has_value());
    EXPECT_FALSE(watch.expired());
  }
  EXPECT_TRUE(watch.expired());  // released with its object
}

}  // namespace
