// Packets, their pool and queues, and the text helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/CleanQueue.h"
#include "foundation/Cyclic.h"
#include "foundation/Packet.h"
#include "foundation/Table.h"

namespace {

using Bytes = std::vector<unsigned char>;

unsigned free_buffers() { return PacketPool::instance().free_count(); }

Packet bytes(std::initializer_list<unsigned char> b, unsigned head = 16) {
  Packet p;
  p.reserve_head(head);
  for (unsigned char c : b) p.put8(c);
  return p;
}

Bytes content(const Packet& p) { return Bytes(p.data(), p.data() + p.length()); }

TEST(Packet, CopyOnWriteKeepsTheQueuedCopyAndTakesOneMoreBuffer) {
  const unsigned before = free_buffers();
  {
    CleanQueue<Packet, 7> queue;
    Packet p = bytes({1, 2, 3}), queued;
    ASSERT_TRUE(queue.put(p));
    EXPECT_EQ(free_buffers(), before - 1);  // shared, not copied
    EXPECT_EQ(p.pull8(), 1);                // the first holder pulls: private copy
    EXPECT_EQ(free_buffers(), before - 2);
    p.push8(9), p.put16_b(0x0405);  // already private: no further copy
    Packet reader = p;              // reading never copies
    EXPECT_EQ(reader.text(), "09 02 03 04 05");
    EXPECT_EQ(static_cast<const Packet&>(reader)[0], 9);
    EXPECT_EQ(free_buffers(), before - 2);
    ASSERT_TRUE(queue.get(&queued));
    EXPECT_EQ(content(queued), (Bytes{1, 2, 3}));
    EXPECT_EQ(queued.headroom(), 16u);
  }
  EXPECT_EQ(free_buffers(), before);
}

TEST(Packet, PoolExhaustionThrowsAndLeavesTheHandleUnchanged) {
  std::vector<Packet> held;
  while (free_buffers() > 0) held.emplace_back().reserve_head(0);
  Packet fresh;
  EXPECT_THROW(fresh.reserve_head(4), std::bad_alloc);
  EXPECT_THROW(fresh.reserve_tail(4), std::bad_alloc);
  EXPECT_TRUE(fresh.is_null());
  // A shared packet whose writer cannot get a copy keeps the shared buffer and its bytes.
  held[0].put8(0x42);
  Packet other = held[0];
  EXPECT_THROW(other.put8(1), std::bad_alloc);
  EXPECT_THROW(other.pull8(), std::bad_alloc);
  EXPECT_EQ(other.data(), held[0].data());
  EXPECT_EQ(other.text(), "42");
}

TEST(Packet, ByteOrderReserveTrimAndAppend) {
  Packet p = bytes({}, 4);
  p.push16_b(0x1234);
  EXPECT_EQ(p[0], 0x12);
  EXPECT_EQ(p.pull16_b(), 0x1234);
  p.put16(0x1234);
  EXPECT_EQ(p[0], 0x34);
  EXPECT_EQ(p.pull16_l(), 0x1234);
  Packet one = bytes({0xAB});
  EXPECT_EQ(one.pull16_b(), 0xAB00);
  EXPECT_EQ(one.pull8(), 0);  // empty: 0, nothing changes
  EXPECT_EQ(one.headroom(), 17u);
  // Moving the positions of a packet that holds data keeps its bytes.
  Packet d = bytes({7, 8}, 10);
  d.reserve_head(5);
  EXPECT_EQ(d.headroom(), 15u);
  d.reserve_tail(12);
  EXPECT_EQ(std::make_pair(d.headroom(), d.tailroom()), std::make_pair(3u, packet_max_size - 5));
  EXPECT_EQ(content(d), (Bytes{7, 8}));

  Packet q = bytes({1, 2, 3, 4, 5});
  EXPECT_EQ(q.pull(2)[1], 2);
  q.trim(1);
  q[1] = 0xEE;
  std::memcpy(q.put(3), "xyz", 3);
  EXPECT_EQ(q.text(), "03 EE 78 79 7A");
  // Appending: null and empty packets add nothing; itself is taken once; through another handle
  // the shared buffer is copied first.
  Packet app = bytes({1, 2});
  app.put(Packet()), app.put(bytes({})), app.put(bytes({3})), app.put(app);
  EXPECT_EQ(app.text(), "01 02 03 01 02 03");
  Packet shared = app;
  shared.put(app);
  EXPECT_EQ(std::make_pair(shared.length(), app.length()), std::make_pair(12u, 6u));
}

TEST(Packet, Texts) {
  EXPECT_EQ(Packet().text(), "(null)");
  EXPECT_EQ(bytes({0x01, 0xAB, 0x00}).text(), "01 AB 00");
  EXPECT_EQ(bytes({}).text(), "");
  // Decimal sizes and hex bytes, the caller's number base kept.
  std::ostringstream os;
  Packet null, empty = bytes({}), p = bytes({0x0A, 0xFF, 0x00}, 3);
  EXPECT_FALSE(null.dump_context(os));
  EXPECT_TRUE(empty.dump_context(os) && p.dump_context(os));
  PacketInfo(p).put(os << std::hex);
  os << 255;
  EXPECT_EQ(os.str(), "dump: a ff 0head=3, data=3, tail=65530\ndump:\n a ff 0\nff");
}

// Misuse stops the process with the condition and the packet; bounds refuse instead of corrupting.
TEST(PacketDeathTest, AssertionsReportTheConditionAndThePacket) {
  const std::string a = "PACKET ASSERTION FAILED!\n";
  const struct {
    std::function<void()> misuse;
    std::string report;
  } cases[] = {
      {[] { Packet().reserve_head(65537); }, a + "length>packet_max_size\n\\(null\\)"},
      {[] { Packet().reserve_tail(65537); }, a + "len>packet_max_size"},
      {[] { Packet().put8(1); }, a + "null packet"},
      {[] { Packet p; p.reserve_tail(1); p.put8(0xAB); p.put8(0xCD); },
       a + "len<=_tailroom\\(\\)\nhead=65535, data=1, tail=0\ndump:\n ab\n"},
      {[] { bytes({}, 0).push8(1); }, a + "len<=_headroom\\(\\)"},
      {[] { bytes({1}).pull(2); }, a + "len<=_length\\(\\)"},
      {[] { bytes({1})[1] = 0; }, a + "index out of range"},
      // Extra head room comes out of the tail room, extra tail room out of the head room.
      {[] { bytes({1}, 65530).reserve_head(6); }, a + "new_len>packet_max_size"},
      {[] { bytes({1}, 5).reserve_tail(6); }, a + "_tailroom\\(\\)\\+len <= packet_max_size"},
      {[] { bytes({}).check_fail("after \"%s\" fdata invalid", "put"); },
       "packet check fail\nafter \"put\" fdata invalid\nterminate.\n"},
      {[] { Packet().check("trim"); }, "after \"trim\" packet is null"},
  };
  for (const auto& c : cases) EXPECT_DEATH(c.misuse(), c.report);
}

#ifdef VX_POOL_ASAN
// A position kept past the release of its packet points into a poisoned free buffer.
TEST(PacketDeathTest, FreeBuffersArePoisoned) {
  EXPECT_DEATH(
      {
        const unsigned char* kept = bytes({1}).data();
        volatile unsigned char c = *kept;
        (void)c;
      },
      "use-after-poison");
}
#endif

TEST(ListAllocator, LastInFirstOutAndGuardedRelease) {
  using Pool = List_allocator<long, 3, Dummy_critical_section>;
  Pool& pool = Pool::instance();
  long *a = pool.allocate(), *b = pool.allocate(), *c = pool.allocate(), local = 0;
  EXPECT_TRUE(a && b && c && a != b && b != c && a != c);
  EXPECT_EQ(pool.allocate(), nullptr);
  pool.deallocate(c), pool.deallocate(a);
  EXPECT_EQ(pool.allocate(), a);
  EXPECT_EQ(pool.allocate(), c);
  pool.deallocate(b);
  EXPECT_DEATH(pool.deallocate(b), "pool: block released twice");
  EXPECT_DEATH(pool.deallocate(&local), "pool: release of a foreign block");
  pool.deallocate(a), pool.deallocate(c);
  EXPECT_EQ(pool.free_count(), 3u);
}

Packet numbered(unsigned n) {
  Packet p = bytes({}, 2);
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

// Random operations at both ends against a deque; each packet held is one pool buffer, so a
// refused or discarded packet goes back at once.
TYPED_TEST(CleanQueueTest, BothEndsAgainstAModel) {
  const unsigned before = free_buffers();
  {
    TypeParam q;
    const unsigned n = q.size();
    std::deque<unsigned> model;
    std::mt19937 rng(n);
    unsigned next = 0;
    for (int step = 0; step < 20000; ++step) {
      Packet out;
      const bool full = model.size() == n, empty = model.empty();
      const unsigned front = empty ? 0 : model.front() & 0xFFFF, back = empty ? 0 : model.back() & 0xFFFF;
      const unsigned op = rng() % 8;
      bool done = false;
      switch (op) {
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
        case 3: done = q.get(&out); break;
        case 4: done = q.get_last(&out); break;
        case 5: done = q.preview(&out); break;
        case 6: done = q.get(out); break;
        case 7: done = q.preview(nullptr) && q.get(nullptr); break;  // discarded
      }
      if (op >= 3) {
        ASSERT_EQ(done, !empty) << op;
        ASSERT_EQ(out.is_null(), empty || op == 7);
        ASSERT_TRUE(empty || op == 7 || number(out) == (op == 4 ? back : front)) << op;
        if (!empty && op == 4) model.pop_back();
        if (!empty && op != 4 && op != 5) model.pop_front();
      }
      ASSERT_EQ(q.count(), model.size());
      ASSERT_EQ(q.empty(), model.empty());
      out = Packet();
      ASSERT_EQ(free_buffers(), before - model.size()) << "step " << step;
      if (step == 10000) {  // clear releases every packet at once and leaves a working queue
        q.clear();
        model.clear();
        ASSERT_EQ(free_buffers(), before);
      }
    }
  }
  EXPECT_EQ(free_buffers(), before);  // destruction releases whatever is still queued
}

TEST(Cyclic, WrapsAddsAndWindowMatchesAWalkForward) {
  using C = Cyclic<unsigned, 127u>;
  C c(127);
  const unsigned steps[] = {++c, --c, c++, c--, c};
  EXPECT_EQ(std::vector<unsigned>(std::begin(steps), std::end(steps)), (std::vector<unsigned>{0, 127, 127, 0, 127}));
  const unsigned sums[] = {C(130), C(120) + C(10), C(120) + 10, C(1) + -2};
  EXPECT_EQ(std::vector<unsigned>(std::begin(sums), std::end(sums)), (std::vector<unsigned>{2, 2, 2, 127}));
  EXPECT_TRUE(C(5) == 5u);
  // The middle is inside when a walk from low to high meets it.
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

TEST(TableTest, CellsAreCentredCutPaddedAndRowsCompleted) {
  std::ostringstream os;
  ext::Table t(4, 3);
  t.delimeter(os);
  t.row(os, "ab");
  t.row(os, "x");
  t.row(os, "dropped");  // past the last column
  t.resetrow();
  t.row(os, "abcdef");  // cut to 4
  t.row(os, "");
  {
    ext::Table wide(5, 6, 2);
    ext::Table::Sentry s(os, wide);
    s << ext::beginrow << "" << ext::nextrow << "ab" << ext::nextrow << "abc" << ext::nextrow;
    s << ext::beginrow << 7 << "/" << 8u << ext::nextrow << ext::delimeter;
  }  // the Sentry completes the open row
  EXPECT_EQ(os.str(),
            "+----+---+\n"
            "| ab | x |\n"
            "|abcd|   |\n"
            "|     |  ab  |ab|\n"  // odd filler goes right
            "| 7/8 |      |  |\n"
            "+-----+------+--+\n");
}

}  // namespace
