// Framing and the two message handlers, called directly on the main thread as the
// servers call them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/data.h"
#include "log_lines.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/state/GlobalVars.h"
#include "quorvel/state/UIViewStorage.h"
#include "quorvel/toolkit/UIView+ToolkitAdditions.h"
#include "quorvel/util/Utilities.h"
#include "uikit/UIView.h"
#include "wait.h"

namespace {

using qvtest::LogLines;

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }
std::string text(const NSData& data) { return std::string(data.begin(), data.end()); }

TEST(ChannelFraming, TenDigitsOfTheUtf8ByteCountThenThePayload) {
  EXPECT_EQ(text(ServerManager::framedMessage("[]")), "0000000002[]");
  EXPECT_EQ(text(ServerManager::framedMessage("")), "0000000000");
  EXPECT_EQ(text(ServerManager::framedMessage("\xC3\xA9")), "0000000002\xC3\xA9");  // one U+00E9, two bytes
  EXPECT_EQ(text(ServerManager::framedMessage(ServerManager::kRecorderGreeting)),
            "0000000044Welcome! RecorderServer StartedSuccessfully ");
  std::string big(1234567, 'x');
  std::string framed = text(ServerManager::framedMessage(big));
  EXPECT_EQ(framed.substr(0, 10), "0001234567");
  EXPECT_EQ(framed.size(), 10 + big.size());
}

class PlayBackReplyTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalVars::sharedInstance()->set_isPlaybackStarted(std::nullopt); }
  static JSONValue parsed(const std::optional<std::string>& reply) {
    EXPECT_TRUE(reply.has_value());
    return reply ? JSONValue::parse(*reply) : JSONValue();
  }
};

TEST_F(PlayBackReplyTest, RequestsWithNothingToReportAreAnsweredWithAnEmptyList) {
  LogLines logs;
  EXPECT_EQ(ServerManager::playBackReplyForRequest(bytes("{\"functionname\":\"nosuchcommand\"}\r\n")), "[]");
  EXPECT_EQ(GlobalVars::sharedInstance()->_isPlaybackStarted(), std::string("true"));
  // Not JSON at all: a record with every field absent, handled like any other.
  EXPECT_EQ(ServerManager::playBackReplyForRequest(bytes("plain words")), "[]");
  EXPECT_EQ(logs.countExact("Msg is plain words"), 1);
}

TEST_F(PlayBackReplyTest, TheExactGreetingTextGetsNoReplyButWithCrLfItIsARequest) {
  EXPECT_EQ(ServerManager::playBackReplyForRequest(bytes("Welcome PlayBackServer Started Successfully")),
            std::nullopt);
  EXPECT_EQ(GlobalVars::sharedInstance()->_isPlaybackStarted(), std::nullopt);
  EXPECT_EQ(ServerManager::playBackReplyForRequest(bytes("Welcome PlayBackServer Started Successfully\r\n")), "[]");
  EXPECT_EQ(GlobalVars::sharedInstance()->_isPlaybackStarted(), std::string("true"));
}

TEST_F(PlayBackReplyTest, FailuresAreAnsweredWithTheirReason) {
  // Bytes that are not UTF-8 decode to no text, which the JSON reader refuses.
  JSONValue reply = parsed(ServerManager::playBackReplyForRequest(NSData{0xFF, 0xFE, '{', '}', 0x0D, 0x0A}));
  ASSERT_TRUE(reply.is_array());
  ASSERT_EQ(reply.size(), 1u);
  ASSERT_TRUE(reply[0].contains("exceptionmsg"));
  EXPECT_FALSE(reply[0]["exceptionmsg"].get<std::string>().empty());
  EXPECT_EQ(reply[0].size(), 1u);

  // JSON that is not an object cannot be a request.
  reply = parsed(ServerManager::playBackReplyForRequest(bytes("[1, 2]\r\n")));
  EXPECT_EQ(reply, JSONValue::parse(R"([{"exceptionmsg":"The playback request is not a JSON object"}])"));

  // Members that are not texts, whichever member and whatever the value, fail the
  // request with a reason naming the member, even where the command alone would
  // have answered with nothing.
  for (const char* request : {R"({"functionname":5})", R"({"functionname":"findelements","accessortype":null})",
                              R"({"functionname":"gettext","accessorvalue":["a"]})",
                              R"({"functionname":"nosuchcommand","functiontype":{"a":1}})",
                              R"({"functionname":true,"tagname":""})"}) {
    SCOPED_TRACE(request);
    reply = parsed(ServerManager::playBackReplyForRequest(bytes(request)));
    ASSERT_TRUE(reply.is_array() && reply.size() == 1u);
    const std::string reason = reply[0].value("exceptionmsg", "");
    EXPECT_NE(reason.find("is not a text"), std::string::npos) << reason;
  }
  reply = parsed(ServerManager::playBackReplyForRequest(bytes(R"({"functionname":"getwidth","accessorvalue":7})")));
  EXPECT_EQ(reply, JSONValue::parse(
                       R"([{"exceptionmsg":"The playback request member \"accessorvalue\" is not a text but number"}])"));
}

TEST(PlayBackExceptionReply, ReasonOrEmptyObjectAlwaysValidJson) {
  EXPECT_EQ(ServerManager::playBackExceptionReply(std::nullopt), "[{}]");
  const std::string reason = "bad \"value\" / path\n\xE2\x82\xAC";
  EXPECT_EQ(JSONValue::parse(ServerManager::playBackExceptionReply(reason)),
            JSONValue::parse(R"([{"exceptionmsg":"bad \"value\" / path\n€"}])"));
  // A reason that is not UTF-8 still gives a reply a standard parser reads.
  JSONValue reply = JSONValue::parse(ServerManager::playBackExceptionReply(std::string("ab\xFF" "cd")));
  std::string got = reply[0]["exceptionmsg"].get<std::string>();
  EXPECT_TRUE(foundation::isValidUTF8(got));
  EXPECT_EQ(got.substr(0, 2), "ab");
}

class RecorderCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalVars::sharedInstance()->set_spyMode("false"); }
  std::optional<std::string> spyMode() { return GlobalVars::sharedInstance()->_spyMode(); }
  void command(const std::string& t) { manager->handleRecorderCommand(bytes(t)); }
  std::shared_ptr<ServerManager> manager = std::make_shared<ServerManager>();
};

TEST_F(RecorderCommandTest, ModeWordsAreFoundAnywhereInAnyCase) {
  LogLines logs;
  command("STARTOBJECTSPY\r\n");
  EXPECT_EQ(spyMode(), std::string("true"));
  EXPECT_EQ(logs.countExact("Switching to spy"), 1);
  EXPECT_EQ(logs.countExact("Recorder thread message is 'STARTOBJECTSPY\r\n'"), 1);

  command("please StopObjectSpy now");
  EXPECT_EQ(spyMode(), std::string("false"));
  EXPECT_EQ(logs.countExact("Switching to recorder"), 1);

  // Both words: starting wins.
  command("stopobjectspy startobjectspy");
  EXPECT_EQ(spyMode(), std::string("true"));

  // Unknown text and bytes that are not UTF-8 change nothing.
  command("objectspy");
  EXPECT_EQ(spyMode(), std::string("true"));
  manager->handleRecorderCommand(NSData{'s', 't', 'o', 'p', 0xFF, 'o', 'b', 'j', 'e', 'c', 't', 's', 'p', 'y'});
  EXPECT_EQ(spyMode(), std::string("true"));
  EXPECT_EQ(logs.countExact("Error converting received data into UTF-8 String"), 1);
  EXPECT_EQ(logs.countExact("Switching to recorder"), 1);
}

TEST_F(RecorderCommandTest, HighlightCountsFromTheMostRecentlyStoredView) {
  auto storage = UIViewStorage::sharedObject();
  ASSERT_EQ(storage->numberOfViews(), 0u);
  std::vector<std::shared_ptr<UIView>> views;
  for (int i = 0; i < 5; ++i) {
    views.push_back(std::make_shared<UIView>(CGRectMake(0, 0, 10, 10)));
    storage->storeView(views.back(), Utilities::getGUIDString());
  }
  auto highlighted = [&] {
    std::vector<int> which;
    for (int i = 0; i < 5; ++i) {
      if (UIView_ToolkitAdditions::TK_hasHighlightBorder(views[i])) which.push_back(i);
    }
    return which;
  };
  // A highlight is taken back after a second: each step starts from no marking.
  auto cleared = [&] { return qvtest::waitUntil([&] { return highlighted().empty(); }); };
  LogLines logs;

  storage->setCount(5);
  command("highlight=0\r\n");
  EXPECT_EQ(highlighted(), std::vector<int>{4});
  EXPECT_EQ(storage->count(), 0u);
  EXPECT_EQ(logs.countExact("HIGHLIGHTING in Spy: 'highlight=0\r\n' "), 1);
  EXPECT_EQ(logs.countExact("elementIndexToHighlight '4', and _viewSotrageSize '5' "), 1);

  ASSERT_TRUE(cleared());
  command("HighLight=4");
  EXPECT_EQ(highlighted(), std::vector<int>{0});

  // Past the first stored view, and below the last: nothing, but the count resets.
  ASSERT_TRUE(cleared());
  storage->setCount(3);
  command("highlight=5");
  EXPECT_EQ(logs.countExact("elementIndexToHighlight '-1', and _viewSotrageSize '5' "), 1);
  EXPECT_EQ(storage->count(), 0u);
  storage->setCount(3);
  command("highlight=-1");
  EXPECT_EQ(storage->count(), 0u);
  // No "=": ignored, the count stays.
  storage->setCount(3);
  command("highlight\r\n");
  EXPECT_EQ(storage->count(), 3u);
  // Far beyond 32 bits: saturates, finds nothing.
  command("highlight=99999999999999999999");
  EXPECT_EQ(highlighted(), std::vector<int>{});

  // Only the piece after the first "=" counts, read up to its first non-digit.
  command("x=  2xyz=9 highlight");
  EXPECT_EQ(highlighted(), std::vector<int>{2});
  ASSERT_TRUE(cleared());
  command("highlight=+1");
  EXPECT_EQ(highlighted(), std::vector<int>{3});
}

}  // namespace
