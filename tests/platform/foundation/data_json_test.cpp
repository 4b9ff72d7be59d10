#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <regex>
#include <set>
#include <string>

#include "foundation/data.h"
#include "foundation/json.h"
#include "foundation/string.h"
#include "objc/exception.h"
#include "foundation/uuid.h"

namespace {

using foundation::base64Decode;
using foundation::base64Encode;
using foundation::isValidUTF8;

std::string raiseReason(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const objc::NSException& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_TRUE(e.reason().has_value());
    return e.reason().value_or("");
  }
  ADD_FAILURE() << "no exception raised";
  return {};
}

TEST(UTF8Test, AcceptsWellFormedAndRejectsMalformedSequences) {
  EXPECT_TRUE(isValidUTF8(""));
  EXPECT_TRUE(isValidUTF8("plain ASCII"));
  EXPECT_TRUE(isValidUTF8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));  // 2-, 3- and 4-byte forms
  EXPECT_TRUE(isValidUTF8("\xF4\x8F\xBF\xBF"));                            // U+10FFFF
  EXPECT_TRUE(isValidUTF8(std::string("nul\0inside", 10)));

  EXPECT_FALSE(isValidUTF8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(isValidUTF8("\xE0\x80\xAF"));      // overlong, 3 bytes
  EXPECT_FALSE(isValidUTF8("\xF0\x80\x80\xAF"));  // overlong, 4 bytes
  EXPECT_FALSE(isValidUTF8("\xED\xA0\x80"));      // surrogate U+D800
  EXPECT_FALSE(isValidUTF8("\xED\xBF\xBF"));      // surrogate U+DFFF
  EXPECT_FALSE(isValidUTF8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(isValidUTF8("ok\xE2\x82"));        // truncated at the end
  EXPECT_FALSE(isValidUTF8("\xE2\x82z"));         // truncated before a plain byte
  EXPECT_FALSE(isValidUTF8("\x80"));              // lone continuation byte
  EXPECT_FALSE(isValidUTF8("\xFF\xFE"));

  EXPECT_EQ(foundation::stringFromUTF8Data(foundation::dataFromString("h\xC3\xA9")), "h\xC3\xA9");
  EXPECT_EQ(foundation::stringFromUTF8Data(NSData{0xC3}), std::nullopt);

  // Lossy decoding: each ill-formed piece (a well-formed sequence's longest start,
  // else one byte) becomes one U+FFFD; the result is always well-formed.
  using foundation::stringFromUTF8DataLossy;
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(stringFromUTF8DataLossy("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(stringFromUTF8DataLossy("ok\xE2\x82"), "ok" + r);
  EXPECT_EQ(stringFromUTF8DataLossy("\xE2\x82z\x80"), r + "z" + r);
  EXPECT_EQ(stringFromUTF8DataLossy("\xFF\xFE"), r + r);
  EXPECT_EQ(stringFromUTF8DataLossy("\xC0\xAF"), r + r);          // an overlong form has no valid start
  EXPECT_EQ(stringFromUTF8DataLossy("\xED\xA0\x80!"), r + r + r + "!");  // nor has a surrogate
  EXPECT_EQ(stringFromUTF8DataLossy("\xF4\x8F\xBF"), r);
  EXPECT_EQ(stringFromUTF8DataLossy(std::string("a\0\xC3", 3)), std::string("a\0", 2) + r);
}

TEST(LowercaseTest, FullUnicodeCaseMappingWithoutLocaleAndAsciiForMalformedText) {
  using foundation::lowercaseString;
  EXPECT_EQ(lowercaseString("MyToggleSWITCH"), "mytoggleswitch");
  EXPECT_EQ(lowercaseString("\xC3\x89""COLE"), "\xC3\xA9""cole");                     // ÉCOLE: école
  EXPECT_EQ(lowercaseString("\xD0\x9C\xD0\x98\xD0\xA0"), "\xD0\xBC\xD0\xB8\xD1\x80");  // МИР: мир
  // A capital sigma at the end of a word is the final form.
  EXPECT_EQ(lowercaseString("\xCE\x9F\xCE\xA3 \xCE\xA3\xCE\x9F"), "\xCE\xBF\xCF\x82 \xCF\x83\xCE\xBF");
  // No Turkish rules: a dotted capital I keeps its dot as a combining mark.
  EXPECT_EQ(lowercaseString("\xC4\xB0I"), "i\xCC\x87i");
  EXPECT_EQ(lowercaseString("\xE2\x84\xAA"), "k");  // the Kelvin sign
  // Bytes that are not UTF-8 stay as they are; ASCII letters around them are lowered.
  EXPECT_EQ(lowercaseString("AB\xC3\x89\xFF" "CD"), "ab\xC3\x89\xFF" "cd");
  EXPECT_EQ(lowercaseString(std::string("N\0UL", 4)), std::string("n\0ul", 4));
}

TEST(Base64Test, RoundTripsAndRejectsMalformedText) {
  EXPECT_EQ(base64Encode(std::string_view()), "");
  EXPECT_EQ(base64Decode(""), NSData{});
  EXPECT_EQ(base64Encode(std::string_view("f")), "Zg==");
  EXPECT_EQ(base64Encode(std::string_view("fo")), "Zm8=");
  EXPECT_EQ(base64Encode(std::string_view("foo")), "Zm9v");
  EXPECT_EQ(base64Decode("Zg=="), foundation::dataFromString("f"));
  EXPECT_EQ(base64Decode("Zm8="), foundation::dataFromString("fo"));

  NSData all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  for (std::size_t n : {1u, 2u, 3u, 4u, 5u, 100u, 256u}) {
    NSData part(all.begin(), all.begin() + static_cast<long>(n));
    std::string text = base64Encode(part);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(base64Decode(text), part) << n << " bytes";
  }

  for (const char* bad : {"Zg=", "Zg", "Z===", "====", "Zg=a", "Z=g=", "Zm9v!A==", "Zm 9", "Zm9v\n"}) {
    EXPECT_EQ(base64Decode(bad), std::nullopt) << '"' << bad << '"';
  }
}

TEST(UUIDTest, CanonicalUpperCaseAndUnique) {
  std::set<std::string> seen;
  const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  for (int i = 0; i < 100; ++i) {
    std::string id = NSUUID::UUIDString();
    EXPECT_TRUE(std::regex_match(id, canonical)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(JSONReadTest, InvalidTextIsAbsentAndAbsentInputRaises) {
  auto command = NSJSONSerialization::JSONObjectWithString(std::string(R"({"functionname":"click","n":2})") + "\r\n");
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ((*command)["functionname"], "click");
  EXPECT_EQ((*command)["n"], 2);

  for (const char* bad : {"", "   ", "{", "{\"a\":}", "[1,]", "{'a':1}", "[1] x", "nul"}) {
    EXPECT_EQ(NSJSONSerialization::JSONObjectWithString(std::string(bad)), std::nullopt) << bad;
  }
  EXPECT_EQ(NSJSONSerialization::JSONObjectWithString(std::string("[\"\xC3\x28\"]")), std::nullopt);  // bad UTF-8
  EXPECT_EQ(NSJSONSerialization::JSONObjectWithData(foundation::dataFromString("[true]\n")), JSONValue::parse("[true]"));

  raiseReason([] { NSJSONSerialization::JSONObjectWithString(std::nullopt); });
  raiseReason([] { NSJSONSerialization::JSONObjectWithData(std::nullopt); });
}

TEST(JSONReadTest, DeepNestingIsRefusedNotFatal) {
  std::string deep(200000, '[');
  deep += std::string(200000, ']');
  EXPECT_EQ(NSJSONSerialization::JSONObjectWithString(deep), std::nullopt);

  std::string fine = std::string(100, '[') + std::string(100, ']');
  EXPECT_TRUE(NSJSONSerialization::JSONObjectWithString(fine).has_value());
  // Brackets inside texts are not nesting.
  std::string text = "[\"" + std::string(5000, '[') + "\\\"\"]";
  auto parsed = NSJSONSerialization::JSONObjectWithString(text);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ((*parsed)[0].get<std::string>().size(), 5001u);
}

TEST(JSONWriteTest, CompactOutputAndUnwritableValuesRaise) {
  JSONValue steps = JSONValue::array({JSONValue{{"className", "UIButton"}, {"index", "0"}, {"path", "a/b"}}});
  std::string text = NSJSONSerialization::stringWithJSONObject(steps);
  EXPECT_EQ(text.find(' '), std::string::npos);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(JSONValue::parse(text), steps);
  // Byte for byte the library's own compact text, whatever the values: texts that
  // need escapes, control characters, UTF-8 and long plain ones, in values and keys;
  // every kind of number; nested and empty containers.
  JSONValue mixed = JSONValue::array(
      {JSONValue{{"imageBase64", base64Encode(NSData(3000, 0xA7))},
                 {"say \"hi\"\\", "tab\there\nnew line \x01\x1F \x7F"},
                 {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", JSONValue::array()},
                 {"numbers", {0, -42, 18446744073709551615ull, 0.1, -2.5e-300, 1e21, 3.0}},
                 {"flags", {true, false, nullptr}},
                 {"", JSONValue::object()},
                 {"nested", {{{"a", {{"b", JSONValue::array({JSONValue::object()})}}}}}}},
       "plain", "/slash </script>", JSONValue::array({JSONValue::array()})});
  EXPECT_EQ(NSJSONSerialization::stringWithJSONObject(mixed), mixed.dump());
  // Texts are checked for escapes a word at a time: each byte that needs one, and the
  // printable bounds that do not, at every place of a word and of the tail.
  for (const std::string& special : {std::string(1, '\0'), std::string("\x1F"), std::string("\""), std::string("\\"),
                                    std::string("\x7F"), std::string("\xC3\xA9"), std::string(" "), std::string("~")}) {
    for (std::size_t at = 0; at <= 17; ++at) {
      std::string text(17, 'A');
      text.insert(at, special);
      const JSONValue value = JSONValue::array({text, JSONValue{{text, 1}}});
      EXPECT_EQ(NSJSONSerialization::stringWithJSONObject(value), value.dump()) << "at " << at;
    }
  }
  NSData data = NSJSONSerialization::dataWithJSONObject(JSONValue::object());
  EXPECT_EQ(std::string(data.begin(), data.end()), "{}");

  EXPECT_FALSE(raiseReason([] { NSJSONSerialization::stringWithJSONObject(JSONValue::array({"\xC3\x28"})); }).empty());
  EXPECT_FALSE(raiseReason([] {
                 NSJSONSerialization::stringWithJSONObject(JSONValue{{"k\xFF", 1}});
               }).empty());
  EXPECT_FALSE(raiseReason([] {
                 NSJSONSerialization::stringWithJSONObject(JSONValue{{"x", {1, std::nan("")}}});
               }).empty());
  raiseReason([] {
    NSJSONSerialization::stringWithJSONObject(JSONValue::array({std::numeric_limits<double>::infinity()}));
  });
  raiseReason([] { NSJSONSerialization::stringWithJSONObject(JSONValue("top-level text")); });
  JSONValue deep = JSONValue::array();
  for (int i = 0; i < 600; ++i) deep = JSONValue::array({std::move(deep)});
  raiseReason([&] { NSJSONSerialization::stringWithJSONObject(deep); });
  raiseReason([] { NSJSONSerialization::dataWithJSONObject(JSONValue(3)); });
}

}  // namespace
