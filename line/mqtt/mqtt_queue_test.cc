#include "line/mqtt/mqtt_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace annc {
namespace {

// Sends every unsent event as mids from `firstMid` on; what was sent.
std::vector<std::string> SendAll(EventQueue& queue, int firstMid) {
  std::vector<std::string> sent;
  while (const std::string* payload = queue.NextUnsent()) {
    sent.push_back(*payload);
    queue.Sent(firstMid++);
  }
  return sent;
}

TEST(EventQueueTest, BoundedWithTheDroppedCounted) {
  EventQueue queue(3);
  for (const char* e : {"a", "b", "c"}) EXPECT_TRUE(queue.Push(e));
  EXPECT_FALSE(queue.Push("d"));
  EXPECT_FALSE(queue.Push("e"));
  EXPECT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue.TakeDropped(), 2u);
  EXPECT_EQ(queue.TakeDropped(), 0u);
  // Only an acknowledgement makes room.
  EXPECT_EQ(SendAll(queue, 1), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(queue.Push("f"));
  queue.Acked(1);
  EXPECT_TRUE(queue.Push("g"));
  EXPECT_EQ(SendAll(queue, 4), (std::vector<std::string>{"g"}));
  EXPECT_EQ(queue.TakeDropped(), 1u);
  EXPECT_EQ(EventQueue().Push("x"), true);
}

TEST(EventQueueTest, WhatWasNotAcknowledgedGoesAgainInOrder) {
  EventQueue queue;
  for (const char* e : {"a", "b", "c", "d"}) queue.Push(e);
  EXPECT_EQ(SendAll(queue, 10), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(queue.unacked(), 4u);
  queue.Acked(11);  // b, out of order
  queue.Acked(99);  // nobody's
  EXPECT_EQ(queue.unacked(), 3u);
  EXPECT_EQ(queue.NextUnsent(), nullptr);
  queue.Push("e");
  queue.Unsend();
  EXPECT_EQ(queue.unacked(), 0u);
  EXPECT_EQ(SendAll(queue, 20), (std::vector<std::string>{"a", "c", "d", "e"}));
  // The old mids mean nothing any more.
  queue.Acked(10);
  EXPECT_EQ(queue.size(), 4u);
  for (int mid : {20, 21, 22, 23}) queue.Acked(mid);
  EXPECT_EQ(queue.size(), 0u);
  EXPECT_EQ(queue.unacked(), 0u);
}

}  // namespace
}  // namespace annc
