#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quorvel/channel/socket/AsyncSocketPackets.h"
#include "quorvel/channel/socket/AsyncSocketPreBuffer.h"

namespace {

NSData bytes(const std::string& text) { return NSData(text.begin(), text.end()); }
std::string text(const NSData& data) { return std::string(data.begin(), data.end()); }

void feed(AsyncSocketPreBuffer& pre, const std::string& chunk) {
  pre.ensureCapacityForWrite(chunk.size());
  std::memcpy(pre.writeBuffer(), chunk.data(), chunk.size());
  pre.didWrite(chunk.size());
}

// Serves a terminator read from the pre-buffer as the socket does; true when complete.
bool serve(AsyncReadPacket& read, AsyncSocketPreBuffer& pre) {
  bool found = false;
  read.takeFromPreBuffer(pre, read.readLengthForTermWithPreBuffer(pre, &found));
  return found;
}

TEST(AsyncSocketPreBufferTest, LinearPositionsGrowByTheShortfallAndRewindWhenEmpty) {
  AsyncSocketPreBuffer pre(8);
  feed(pre, "abcdef");
  EXPECT_EQ(pre.availableBytes(), 6u);
  EXPECT_EQ(pre.availableSpace(), 2u);
  pre.didRead(4);
  // Space before the read position is not reused while bytes remain.
  EXPECT_EQ(pre.availableSpace(), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pre.readBuffer()), 2), "ef");

  pre.ensureCapacityForWrite(5);  // 3 short: grows by exactly that, keeping the positions
  EXPECT_EQ(pre.capacity(), 11u);
  EXPECT_EQ(pre.availableSpace(), 5u);
  feed(pre, "ghijk");
  const std::uint8_t* buffer = nullptr;
  std::size_t available = 0;
  pre.getReadBuffer(&buffer, &available);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), available), "efghijk");

  pre.didRead(available);
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.availableSpace(), 11u);  // both positions back at the start

  // Reading or writing past the ends is clamped instead of corrupting positions.
  feed(pre, "xy");
  pre.didRead(100);
  EXPECT_EQ(pre.availableBytes(), 0u);
  pre.didWrite(100);
  EXPECT_EQ(pre.availableSpace(), 0u);
  pre.reset();
  EXPECT_EQ(pre.availableBytes(), 0u);
  EXPECT_EQ(pre.availableSpace(), 11u);
}

TEST(AsyncReadPacketTest, TerminatorReadTakesUpToTheFirstTerminatorAndLeavesTheRest) {
  AsyncSocketPreBuffer pre(4096);
  feed(pre, "one\r\ntwo\r\nthr");
  AsyncReadPacket first(0, -1, bytes("\r\n"), 1);
  ASSERT_TRUE(serve(first, pre));
  EXPECT_EQ(text(first.takeData()), "one\r\n");
  AsyncReadPacket second(0, -1, bytes("\r\n"), 2);
  ASSERT_TRUE(serve(second, pre));
  EXPECT_EQ(text(second.takeData()), "two\r\n");
  AsyncReadPacket third(0, -1, bytes("\r\n"), 3);
  EXPECT_FALSE(serve(third, pre));
  EXPECT_EQ(third.bytesDone, 3u);
  EXPECT_EQ(pre.availableBytes(), 0u);
  feed(pre, "ee\r\nnext");
  ASSERT_TRUE(serve(third, pre));
  EXPECT_EQ(text(third.takeData()), "three\r\n");
  EXPECT_EQ(pre.availableBytes(), 4u);
}

TEST(AsyncReadPacketTest, TerminatorSplitBetweenArrivalsIsFound) {
  // CR LF split after the CR.
  {
    AsyncSocketPreBuffer pre(16);
    AsyncReadPacket read(0, -1, bytes("\r\n"), 0);
    feed(pre, "hello\r");
    EXPECT_FALSE(serve(read, pre));
    feed(pre, "\nworld");
    ASSERT_TRUE(serve(read, pre));
    EXPECT_EQ(text(read.takeData()), "hello\r\n");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pre.readBuffer()), pre.availableBytes()), "world");
  }
  // A longer terminator spread over three arrivals, after a false start.
  {
    AsyncSocketPreBuffer pre(16);
    AsyncReadPacket read(0, -1, bytes("<END>"), 0);
    EXPECT_FALSE((feed(pre, "ab<EN<E"), serve(read, pre)));
    EXPECT_FALSE((feed(pre, "N"), serve(read, pre)));
    EXPECT_TRUE((feed(pre, "D>tail"), serve(read, pre)));
    EXPECT_EQ(text(read.takeData()), "ab<EN<END>");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pre.readBuffer()), pre.availableBytes()), "tail");
  }
  // The earliest terminator wins when a later one also matches.
  {
    AsyncSocketPreBuffer pre(16);
    AsyncReadPacket read(0, -1, bytes("aa"), 0);
    feed(pre, "xa");
    EXPECT_FALSE(serve(read, pre));
    feed(pre, "aa");
    ASSERT_TRUE(serve(read, pre));
    EXPECT_EQ(text(read.takeData()), "xaa");
    EXPECT_EQ(pre.availableBytes(), 1u);
  }
}

TEST(AsyncReadPacketTest, TerminatorReadNeverTakesMoreThanItsMaximum) {
  AsyncSocketPreBuffer pre(64);
  AsyncReadPacket read(8, -1, bytes("\r\n"), 0);
  feed(pre, "0123456");
  EXPECT_FALSE(serve(read, pre));
  EXPECT_FALSE(read.hasReachedMaxLength());
  feed(pre, "789\r\n");
  EXPECT_FALSE(serve(read, pre));  // the terminator lies beyond the maximum
  EXPECT_EQ(read.bytesDone, 8u);
  EXPECT_TRUE(read.hasReachedMaxLength());
  EXPECT_EQ(pre.availableBytes(), 4u);

  // A terminator ending exactly at the maximum is still found.
  AsyncSocketPreBuffer exact(64);
  AsyncReadPacket fits(8, -1, bytes("\r\n"), 0);
  feed(exact, "012345\r\nmore");
  ASSERT_TRUE(serve(fits, exact));
  EXPECT_EQ(text(fits.takeData()), "012345\r\n");
}

}  // namespace
