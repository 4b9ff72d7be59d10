#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <thread>
#include <vector>

#include "dispatch/dispatch.h"
#include "foundation/error.h"
#include "foundation/notification_center.h"
#include "foundation/process_info.h"
#include "foundation/thread.h"

namespace {

TEST(ProcessInfoTest, FactsAboutThisProcess) {
  auto info = NSProcessInfo::processInfo();
  EXPECT_EQ(info, NSProcessInfo::processInfo());
  EXPECT_EQ(info->className(), "NSProcessInfo");
  EXPECT_GT(info->physicalMemory(), 0u);
  EXPECT_GE(info->activeProcessorCount(), 1u);
  EXPECT_EQ(info->processIdentifier(), ::getpid());
  EXPECT_FALSE(info->processName().empty());
  ASSERT_FALSE(info->arguments().empty());
  EXPECT_NE(info->arguments()[0].find("foundation_services_test"), std::string::npos);
  EXPECT_EQ(info->environment().at("QUORVEL_LOG"), "off");  // set by the test runner

  double before = info->systemUptime();
  EXPECT_GT(before, 0);
  EXPECT_GE(info->systemUptime(), before);
}

TEST(ProcessInfoTest, VersionIsConfigurableAndCheckedThroughTheMethodTable) {
  auto info = NSProcessInfo::processInfo();
  NSOperatingSystemVersion v = info->operatingSystemVersion();
  EXPECT_EQ(v.majorVersion, 16);
  EXPECT_EQ(v.minorVersion, 0);
  EXPECT_EQ(v.patchVersion, 0);
  EXPECT_TRUE(info->respondsToSelector("isOperatingSystemAtLeastVersion:"));
  EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({16, 0, 0}));
  EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({15, 9, 9}));
  EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({16, 0, 1}));

  NSProcessInfo::setOperatingSystemVersion({17, 2, 1});
  EXPECT_TRUE(objc::msgSend<bool>(*info, "isOperatingSystemAtLeastVersion:", NSOperatingSystemVersion{17, 2, 0}));
  EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({17, 3, 0}));
  EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({9, 99, 99}));

  // An exchanged implementation answers every caller, the platform's own included.
  objc::Class* cls = NSProcessInfo::classObject();
  cls->addMethod<bool, NSOperatingSystemVersion>("qv_alwaysOld:", [](objc::Object&, NSOperatingSystemVersion) {
    return false;
  });
  objc::method_exchangeImplementations(cls->getInstanceMethod("isOperatingSystemAtLeastVersion:"),
                                       cls->getInstanceMethod("qv_alwaysOld:"));
  EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({1, 0, 0}));
  objc::method_exchangeImplementations(cls->getInstanceMethod("isOperatingSystemAtLeastVersion:"),
                                       cls->getInstanceMethod("qv_alwaysOld:"));
  EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({1, 0, 0}));
  NSProcessInfo::setOperatingSystemVersion({16, 0, 0});

  // Made by name, the class gives a process-information object or nothing, never
  // another type dressed up as one.
  auto byName = objc::NSClassFromString("NSProcessInfo")->createInstance();
  EXPECT_TRUE(byName == nullptr || objc::cast<NSProcessInfo>(byName) != nullptr);
}

TEST(NotificationCenterTest, FiltersByNameAndObjectAndStopsAfterRemoval) {
  auto& center = NSNotificationCenter::defaultCenter();
  auto sender = std::make_shared<objc::Object>();
  auto other = std::make_shared<objc::Object>();
  std::vector<std::string> any, named, fromSender;
  int tAny = center.addObserverForName(std::nullopt, nullptr, [&](const NSNotification& n) { any.push_back(n.name); });
  int tNamed = center.addObserverForName("QVTextDidChange", nullptr, [&](const NSNotification& n) {
    named.push_back(std::any_cast<std::string>(n.userInfo.at("text")));
  });
  int tSender = center.addObserverForName("QVTextDidChange", sender, [&](const NSNotification& n) {
    fromSender.push_back(n.object == sender ? "sender" : "?");
  });

  center.postNotificationName("QVTextDidChange", sender, {{"text", std::string("a")}});
  center.postNotificationName("QVTextDidChange", other, {{"text", std::string("b")}});
  center.postNotificationName("QVTextDidChange", nullptr, {{"text", std::string("c")}});
  center.postNotificationName("QVOther", sender);
  EXPECT_EQ(any, (std::vector<std::string>{"QVTextDidChange", "QVTextDidChange", "QVTextDidChange", "QVOther"}));
  EXPECT_EQ(named, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(fromSender, (std::vector<std::string>{"sender"}));

  // An observer of one sender hears nothing once that sender is gone.
  sender.reset();
  center.postNotificationName("QVTextDidChange", nullptr, {{"text", std::string("d")}});
  EXPECT_EQ(fromSender.size(), 1u);

  center.removeObserver(tNamed);
  center.removeObserver(tSender);
  center.postNotificationName("QVTextDidChange", other, {{"text", std::string("e")}});
  EXPECT_EQ(named.size(), 4u);
  center.removeObserver(tAny);
  center.postNotificationName("QVOther", nullptr);
  EXPECT_EQ(any.size(), 6u);
}

TEST(NotificationCenterTest, RemovalDuringPostingAndPostingThread) {
  auto& center = NSNotificationCenter::defaultCenter();
  int second = 0;
  int tSecond = 0;
  int tFirst = center.addObserverForName("QVRemoveDuringPost", nullptr, [&](const NSNotification&) {
    center.removeObserver(tSecond);  // removed before its turn: not called any more
  });
  tSecond = center.addObserverForName("QVRemoveDuringPost", nullptr, [&](const NSNotification&) { ++second; });
  center.postNotificationName("QVRemoveDuringPost", nullptr);
  EXPECT_EQ(second, 0);
  center.removeObserver(tFirst);

  // Observers run synchronously on the posting thread, whichever it is.
  std::atomic<long> observedOn{0};
  std::atomic<int> count{0};
  int token = center.addObserverForName("QVFromWorker", nullptr, [&](const NSNotification&) {
    observedOn = NSThread::currentThreadId();
    ++count;
  });
  std::atomic<long> postedOn{0};
  std::vector<std::thread> posters;
  for (int i = 0; i < 4; ++i) {
    posters.emplace_back([&, i] {
      if (i == 0) postedOn = NSThread::currentThreadId();
      for (int k = 0; k < 50; ++k) center.postNotificationName("QVFromWorker", nullptr);
    });
  }
  // Observers come and go while others post.
  for (int k = 0; k < 50; ++k) center.removeObserver(center.addObserverForName("QVFromWorker", nullptr, [](auto&) {}));
  for (auto& t : posters) t.join();
  EXPECT_EQ(count, 200);
  center.removeObserver(token);

  long mainId = NSThread::currentThreadId();
  center.postNotificationName("QVFromWorker", nullptr);
  EXPECT_EQ(count, 200);
  token = center.addObserverForName("QVFromWorker", nullptr, [&](const NSNotification&) {
    observedOn = NSThread::currentThreadId();
  });
  center.postNotificationName("QVFromWorker", nullptr);
  EXPECT_EQ(observedOn, mainId);
  center.removeObserver(token);
}

TEST(ErrorAndThreadTest, PosixErrorsAndThreadFacts) {
  auto error = NSError::posixError(ECONNREFUSED, "port closed");
  EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
  EXPECT_EQ(error->code(), ECONNREFUSED);
  EXPECT_EQ(error->localizedDescription(), "Connection refused");
  EXPECT_EQ(error->localizedFailureReason(), "port closed");
  EXPECT_EQ(error->className(), "NSError");
  EXPECT_EQ(error->description(),
            "Error Domain=NSPOSIXErrorDomain Code=111 \"Connection refused\" UserInfo={NSLocalizedFailureReason=port closed}");

  EXPECT_TRUE(NSThread::isMainThread());
  EXPECT_EQ(NSThread::currentThreadId(), static_cast<long>(::getpid()));
  std::atomic<bool> workerIsMain{true};
  std::thread([&] { workerIsMain = NSThread::isMainThread(); }).join();
  EXPECT_FALSE(workerIsMain);
  NSThread::sleepForTimeInterval(-1);
  NSThread::sleepForTimeInterval(std::nan(""));
  NSThread::sleepForTimeInterval(0.001);
}

}  // namespace
