#include "foundation/CharBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <utility>

// Impossible allocations must fail as allocations do in production (a null result that the
// buffer turns into std::bad_alloc), not abort the sanitizer build.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using AppCore::CharBuffer;

std::string Bytes(const CharBuffer& b) { return std::string(b.data, b.size); }

TEST(CharBufferTest, ConstructorsAndEmptyInvariant) {
  CharBuffer empty;
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0u);

  CharBuffer none(0UL);
  EXPECT_EQ(none.data, nullptr);
  EXPECT_EQ(none.size, 0u);

  CharBuffer raw(17UL);
  ASSERT_NE(raw.data, nullptr);
  EXPECT_EQ(raw.size, 17u);

  CharBuffer zeros(5UL, 8UL);
  ASSERT_EQ(zeros.size, 40u);
  EXPECT_EQ(Bytes(zeros), std::string(40, '\0'));

  char* block = static_cast<char*>(std::malloc(3));
  std::memcpy(block, "xyz", 3);
  CharBuffer adopted(block, 3);
  EXPECT_EQ(adopted.data, block);  // adopted, not copied; freed by the buffer
  EXPECT_EQ(Bytes(adopted), "xyz");
}

TEST(CharBufferTest, OverflowingOrHugeAllocationsThrowAndLeaveNothing) {
  const unsigned long huge = std::numeric_limits<unsigned long>::max() / 2 + 1;
  EXPECT_THROW(CharBuffer(huge, 4UL), std::bad_alloc);

  CharBuffer b(4UL, 1UL);
  std::memcpy(b.data, "abcd", 4);
  EXPECT_THROW(b.Resize(std::numeric_limits<unsigned long>::max() - 64), std::bad_alloc);
  EXPECT_EQ(b.size, 4u);
  EXPECT_EQ(Bytes(b), "abcd");
  EXPECT_THROW(b.Grow(std::numeric_limits<unsigned long>::max() - 64), std::bad_alloc);
  EXPECT_EQ(Bytes(b), "abcd");
}

TEST(CharBufferTest, GrowNeverShrinksAndResizeZeroEmpties) {
  CharBuffer b(8UL, 1UL);
  char* before = b.data;
  b.Grow(8);
  b.Grow(3);
  EXPECT_EQ(b.data, before);
  EXPECT_EQ(b.size, 8u);
  b.Grow(20);
  EXPECT_EQ(b.size, 20u);
  EXPECT_EQ(std::string(b.data, 8), std::string(8, '\0'));
  b.Resize(0);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.size, 0u);
}

TEST(CharBufferTest, MovesLeaveTheSourceEmpty) {
  CharBuffer a(3UL, 1UL);
  std::memcpy(a.data, "abc", 3);
  CharBuffer b(std::move(a));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.size, 0u);
  EXPECT_EQ(Bytes(b), "abc");

  CharBuffer c(10UL, 1UL);
  c = std::move(b);  // c's own block is freed (leak checker would notice otherwise)
  EXPECT_EQ(Bytes(c), "abc");
  EXPECT_EQ(b.data, nullptr);
  c = std::move(c);
  EXPECT_EQ(Bytes(c), "abc");
}

TEST(CharBufferTest, EqualityComparesSizeAndBytes) {
  CharBuffer a(4UL, 1UL), b(4UL, 1UL), c(5UL, 1UL), e1, e2;
  EXPECT_TRUE(a == b);
  b.data[3] = 1;
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a != c);
  EXPECT_TRUE(e1 == e2);
  EXPECT_TRUE(e1 != a);
}

// Random Resize/Grow/Clear sequences against a std::string model: the kept prefix must
// survive every reallocation.
TEST(CharBufferTest, RandomOperationsMatchModel) {
  std::mt19937_64 rng(1234);
  CharBuffer b;
  std::string model;
  for (int step = 0; step < 5000; ++step) {
    unsigned long n = rng() % 300;
    size_t kept = model.size();
    switch (rng() % 4) {
      case 0: b.Resize(n); model.resize(n); break;
      case 1: if (n > model.size()) model.resize(n); b.Grow(n); break;
      case 2: if (rng() % 10 == 0) { b.Clear(); model.clear(); } break;
      default: {
        CharBuffer moved(std::move(b));
        b = std::move(moved);
      }
    }
    // Only the new bytes get values: the old ones must have survived the reallocation.
    for (size_t i = kept; i < model.size(); ++i) {
      model[i] = static_cast<char>(rng());
      b.data[i] = model[i];
    }
    ASSERT_EQ(b.size, model.size());
    ASSERT_EQ(b.data == nullptr, model.empty());
    ASSERT_EQ(Bytes(b), model);
  }
}

}  // namespace
