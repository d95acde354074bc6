#include "link/secret.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "link/gbk.h"

namespace kbc::link {
namespace {

bool all_zero(const char* bytes, std::size_t size) {
  return std::all_of(bytes, bytes + size, [](char c) { return c == 0; });
}

// A password as short as the recorder's stays inside the string object; a long one is on the heap.
const std::string_view kTexts[] = {"888888", "a password far longer than any short-string buffer"};

TEST(Wipe, ZeroesTheWholeBufferAndEmptiesTheString) {
  for (const std::string_view text : kTexts) {
    std::string held(text);
    held.reserve(100);
    const char* buffer = held.data();
    const std::size_t capacity = held.capacity();
    wipe(held);
    EXPECT_TRUE(held.empty());
    EXPECT_EQ(held.data(), buffer) << "wiped in place, not reallocated";
    EXPECT_TRUE(all_zero(buffer, capacity)) << text;
  }
}

TEST(Secret, TakesAStringOverAndLeavesNothingBehindInIt) {
  for (const std::string_view text : kTexts) {
    std::string field(text);
    const char* buffer = field.data();
    const bool on_heap = text.size() > 15;
    const Secret secret = std::move(field);
    EXPECT_EQ(secret.view(), text);
    if (!on_heap) {
      EXPECT_TRUE(all_zero(buffer, text.size())) << "the short string's own buffer";
    }
  }
}

TEST(Secret, MovedFromAndClearedHoldNothing) {
  for (const std::string_view text : kTexts) {
    Secret first(text);
    Secret second = std::move(first);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(second.view(), text);
    Secret third;
    third = second;
    EXPECT_EQ(third, second);
    second.clear();
    EXPECT_TRUE(second.empty());
    EXPECT_EQ(third.view(), text);
  }
}

TEST(Secret, GbkTextsMovedFromHoldNothing) {
  auto password = GbkText::from_utf8("888888");
  ASSERT_TRUE(password);
  GbkText moved = std::move(*password);
  EXPECT_TRUE(password->empty());
  EXPECT_EQ(moved.bytes(), "888888");
}

}  // namespace
}  // namespace kbc::link
