#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "foundation/CleanQueue.h"
#include "foundation/Cyclic.h"
#include "foundation/Packet.h"

namespace {

unsigned free_buffers() { return PacketPool::instance().free_count(); }

Packet numbered(unsigned n) {
  Packet p;
  p.reserve_head(2);
  p.put16_b(static_cast<unsigned short>(n));
  return p;
}

unsigned number(const Packet& p) { return static_cast<unsigned>(p.data()[0]) << 8 | p.data()[1]; }

template <class Q>
struct CleanQueueTest : ::testing::Test {};

template <unsigned N>
using Q = CleanQueue<Packet, N>;
using Sizes = ::testing::Types<Q<1>, Q<3>, Q<7>, Q<120>, Q<135>, Q<327>>;
TYPED_TEST_SUITE(CleanQueueTest, Sizes);

}  // namespace

TYPED_TEST(CleanQueueTest, FullAndEmpty) {
  const unsigned before = free_buffers();
  {
    TypeParam q;
    const unsigned n = q.size();
    Packet out;
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.get(&out));
    EXPECT_FALSE(q.get(out));
    EXPECT_FALSE(q.get_last(&out));
    EXPECT_FALSE(q.preview(&out));
    EXPECT_FALSE(q.preview(nullptr));
    EXPECT_TRUE(out.is_null());

    for (unsigned i = 0; i < n; ++i) ASSERT_TRUE(q.put(numbered(i)));
    EXPECT_EQ(q.count(), n);
    EXPECT_FALSE(q.put(numbered(999)));
    EXPECT_FALSE(q.append(numbered(999)));
    EXPECT_EQ(q.count(), n);
    EXPECT_EQ(free_buffers(), before - n);  // the refused packets went back at once

    // The overloads the model below does not use: preview and get without a receiver, get
    // into a reference.
    EXPECT_TRUE(q.preview(nullptr));
    ASSERT_TRUE(q.get(nullptr));  // discarded, and released
    EXPECT_EQ(free_buffers(), before - n + 1);
    if (n > 1) {
      ASSERT_TRUE(q.get(out));
      EXPECT_EQ(number(out), 1u);
    }
    q.clear();
    out = Packet();
    EXPECT_EQ(free_buffers(), before);

    // Destruction releases whatever is still queued.
    for (unsigned i = 0; i < n; ++i) ASSERT_TRUE(q.append(numbered(i)));
    EXPECT_EQ(free_buffers(), before - n);
  }
  EXPECT_EQ(free_buffers(), before);
}

TYPED_TEST(CleanQueueTest, BothEndsAgainstAModel) {
  const unsigned before = free_buffers();
  TypeParam q;
  const unsigned n = q.size();
  std::deque<unsigned> model;
  std::mt19937 rng(n);
  unsigned next = 0;
  for (int step = 0; step < 20000; ++step) {
    Packet out;
    const bool full = model.size() == n;
    switch (rng() % 6) {
      case 0:
      case 1:
        ASSERT_EQ(q.put(numbered(next)), !full);
        if (!full) model.push_back(next);
        ++next;
        break;
      case 2:
        ASSERT_EQ(q.append(numbered(next)), !full);
        if (!full) model.push_front(next);
        ++next;
        break;
      case 3:
        ASSERT_EQ(q.get(&out), !model.empty());
        if (!model.empty()) {
          ASSERT_EQ(number(out), model.front() & 0xFFFF);
          model.pop_front();
        }
        break;
      case 4:
        ASSERT_EQ(q.get_last(&out), !model.empty());
        if (!model.empty()) {
          ASSERT_EQ(number(out), model.back() & 0xFFFF);
          model.pop_back();
        }
        break;
      case 5:
        ASSERT_EQ(q.preview(&out), !model.empty());
        if (!model.empty()) {
          ASSERT_EQ(number(out), model.front() & 0xFFFF);
        }
        break;
    }
    ASSERT_EQ(q.count(), model.size());
    ASSERT_EQ(q.empty(), model.empty());
    out = Packet();
    ASSERT_EQ(free_buffers(), before - model.size()) << "step " << step;
  }
  // clear releases every packet at once and leaves a working queue.
  q.clear();
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.count(), 0u);
  EXPECT_EQ(free_buffers(), before);
  EXPECT_TRUE(q.put(numbered(1)));
  EXPECT_TRUE(q.append(numbered(2)) || n == 1);
  Packet out;
  ASSERT_TRUE(q.get_last(&out));
  EXPECT_EQ(number(out), 1u);
}

TEST(Cyclic, WrapsAndAdds) {
  using C = Cyclic<unsigned, 127u>;
  C c(127);
  EXPECT_EQ(unsigned(++c), 0u);
  EXPECT_EQ(unsigned(--c), 127u);
  EXPECT_EQ(unsigned(c++), 127u);
  EXPECT_EQ(unsigned(c), 0u);
  EXPECT_EQ(unsigned(c--), 0u);
  EXPECT_EQ(unsigned(c), 127u);
  EXPECT_EQ(unsigned(C(130)), 2u);
  EXPECT_EQ(unsigned(C()), 0u);
  EXPECT_EQ(unsigned(C(120) + C(10)), 2u);
  EXPECT_EQ(unsigned(C(120) + 10), 2u);
  EXPECT_EQ(unsigned(C(1) + -2), 127u);
  EXPECT_TRUE(C(5) == 5u);
}

TEST(Cyclic, WindowMatchesAWalkForward) {
  using C = Cyclic<unsigned, 127u>;
  EXPECT_TRUE((C(120) <= C(2)) <= C(5));
  EXPECT_FALSE((C(5) <= C(2)) <= C(120));
  EXPECT_TRUE((C(120) <= 2) <= 5);
  // Every triple against walking from low to high: middle is inside when the walk meets it.
  for (unsigned low = 0; low < 128; ++low)
    for (unsigned high = 0; high < 128; ++high) {
      bool seen[128] = {};
      for (unsigned v = low;; v = (v + 1) % 128) {
        seen[v] = true;
        if (v == high) break;
      }
      for (unsigned mid = 0; mid < 128; ++mid)
        ASSERT_EQ((C(low) <= C(mid)) <= C(high), seen[mid]) << low << ' ' << mid << ' ' << high;
    }
}
