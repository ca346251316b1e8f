#include <gtest/gtest.h>

#include <iomanip>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/CleanQueue.h"
#include "foundation/Packet.h"

namespace {

unsigned free_buffers() { return PacketPool::instance().free_count(); }

Packet bytes(std::initializer_list<unsigned char> b, unsigned head = 16) {
  Packet p;
  p.reserve_head(head);
  for (unsigned char c : b) p.put8(c);
  return p;
}

std::vector<unsigned char> content(const Packet& p) {
  return std::vector<unsigned char>(p.data(), p.data() + p.length());
}

// The packet assertion report starts with these two lines.
std::string assertion(const std::string& escaped_text) {
  return "PACKET ASSERTION FAILED!\n" + escaped_text + "\n";
}

}  // namespace

TEST(Packet, CopyOnWriteKeepsTheQueuedCopyAndTakesOneMoreBuffer) {
  const unsigned before = free_buffers();
  {
    CleanQueue<Packet, 7> queue;
    Packet p = bytes({1, 2, 3});
    ASSERT_TRUE(queue.put(p));
    EXPECT_EQ(free_buffers(), before - 1);  // shared, not copied

    EXPECT_EQ(p.pull8(), 1);                 // the first holder pulls: private copy
    EXPECT_EQ(free_buffers(), before - 2);
    p.push8(9);                              // already private: no further copy
    p.put16_b(0x0405);
    EXPECT_EQ(free_buffers(), before - 2);

    Packet queued;
    ASSERT_TRUE(queue.get(&queued));
    EXPECT_EQ(content(queued), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(queued.headroom(), 16u);
    EXPECT_EQ(content(p), (std::vector<unsigned char>{9, 2, 3, 4, 5}));
    // Reading never copies.
    Packet reader = p;
    EXPECT_EQ(reader.text(), "09 02 03 04 05");
    EXPECT_EQ(static_cast<const Packet&>(reader)[0], 9);
    EXPECT_EQ(free_buffers(), before - 2);
  }
  EXPECT_EQ(free_buffers(), before);
}

TEST(Packet, PoolExhaustionThrowsAndLeavesTheHandleUnchanged) {
  std::vector<Packet> held;
  while (free_buffers() > 0) {
    held.emplace_back();
    held.back().reserve_head(0);
  }
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
  EXPECT_THROW(held[0].sub(1, 0), std::bad_alloc);
  EXPECT_EQ(free_buffers(), 0u);

  // The buffer released last is handed out first.
  const unsigned char* a = held[5].data();
  const unsigned char* b = held[9].data();
  held[5] = Packet();
  Packet only;
  only.reserve_head(0);
  EXPECT_EQ(only.data(), a);  // the only free buffer is handed out again
  held[9] = Packet();
  only = Packet();  // freed after b
  Packet first, second;
  first.reserve_head(0);
  second.reserve_head(0);
  EXPECT_EQ(first.data(), a);
  EXPECT_EQ(second.data(), b);
}

TEST(Packet, ReserveAndByteOrder) {
  Packet p;
  p.reserve_head(4);
  p.push16_b(0x1234);
  EXPECT_EQ(p[0], 0x12);
  EXPECT_EQ(p.pull16_b(), 0x1234);
  p.put16(0x1234);
  EXPECT_EQ(p[0], 0x34);
  EXPECT_EQ(p.pull16_l(), 0x1234);

  Packet one = bytes({0xAB});
  EXPECT_EQ(one.pull16_b(), 0xAB00);
  EXPECT_EQ(one.length(), 0u);
  EXPECT_EQ(one.pull8(), 0);  // empty: 0, nothing changes
  EXPECT_EQ(one.headroom(), 17u);
  Packet low = bytes({0xCD});
  EXPECT_EQ(low.pull16_l(), 0x00CD);

  // Moving the positions of a packet that holds data keeps its bytes.
  Packet d = bytes({7, 8}, 10);
  d.reserve_head(5);
  EXPECT_EQ(d.headroom(), 15u);
  EXPECT_EQ(content(d), (std::vector<unsigned char>{7, 8}));
  d.reserve_tail(12);
  EXPECT_EQ(d.headroom(), 3u);
  EXPECT_EQ(d.tailroom(), packet_max_size - 5);
  EXPECT_EQ(content(d), (std::vector<unsigned char>{7, 8}));
}

TEST(Packet, PullTrimIndexSubAndStrings) {
  Packet p = bytes({1, 2, 3, 4, 5});
  const unsigned char* at = p.pull(2);
  EXPECT_EQ(at[0], 1);
  EXPECT_EQ(at[1], 2);
  p.trim(1);
  EXPECT_EQ(p.text(), "03 04");
  p[1] = 0xEE;
  EXPECT_EQ(p.text(), "03 EE");
  unsigned char* room = p.put(3);
  room[0] = 'x', room[1] = 'y', room[2] = 'z';
  EXPECT_EQ(p.text(), "03 EE 78 79 7A");

  Packet src = bytes({1, 2, 3, 4});
  const unsigned before = free_buffers();
  Packet s = src.sub(2, 1);
  EXPECT_EQ(free_buffers(), before - 1);
  EXPECT_EQ(content(s), (std::vector<unsigned char>{2, 3}));
  EXPECT_EQ(s.headroom(), src.headroom() + 1);
  s[0] = 0x77;
  EXPECT_EQ(src.text(), "01 02 03 04");
  EXPECT_EQ(src.sub(0, 4).length(), 0u);

  Packet str;
  str.reserve_head(0);
  str.put(std::string("abc"));
  EXPECT_EQ(content(str), (std::vector<unsigned char>{3, 'a', 'b', 'c'}));
  EXPECT_EQ(str.pull_string(), "abc");
  str.put(std::string());
  str.put(std::string(255, 'q'));
  EXPECT_EQ(str.pull_string(), "");
  EXPECT_EQ(str.pull_string(), std::string(255, 'q'));
  // A length byte that promises more than the packet holds: the rest reads as 0.
  Packet cut = bytes({4, 'h', 'i'});
  EXPECT_EQ(cut.pull_string(), std::string("hi\0\0", 4));
  EXPECT_EQ(cut.pull_string(), "");
}

TEST(Packet, AppendingPackets) {
  Packet p = bytes({1, 2});
  p.put(Packet());            // null: nothing
  p.put(bytes({}));           // empty: nothing
  p.put(bytes({3}));
  EXPECT_EQ(p.text(), "01 02 03");
  p.put(p);                   // itself: the length is taken once
  EXPECT_EQ(p.text(), "01 02 03 01 02 03");
  Packet shared = p;
  shared.put(p);              // same buffer through another handle: copied first
  EXPECT_EQ(shared.length(), 12u);
  EXPECT_EQ(p.length(), 6u);
}

TEST(Packet, Texts) {
  EXPECT_EQ(Packet().text(), "(null)");
  EXPECT_EQ(bytes({0x01, 0xAB, 0x00}).text(), "01 AB 00");
  EXPECT_EQ(bytes({}).text(), "");

  std::ostringstream os;
  EXPECT_FALSE(Packet().dump(os));
  Packet p = bytes({0x0A, 0xFF, 0x00}, 3);
  os << std::hex;
  EXPECT_TRUE(p.dump(os));
  os << ' ' << 255;  // decimal inside, the caller's hex mode kept
  EXPECT_EQ(os.str(), "head=3, data=3, tail=65530 ff");

  std::ostringstream ctx;
  Packet null;
  EXPECT_FALSE(null.dump_context(ctx));
  Packet empty = bytes({});
  EXPECT_TRUE(empty.dump_context(ctx));
  EXPECT_EQ(ctx.str(), "");
  EXPECT_TRUE(p.dump_context(ctx));
  ctx << ' ' << 255;  // the stream's decimal mode survives
  EXPECT_EQ(ctx.str(), "dump: a ff 0 255");

  std::ostringstream info;
  PacketInfo(Packet()).put(info);
  PacketInfo(bytes({}, 2)).put(info);
  PacketInfo(bytes({0x1F, 0x02}, 1)).put(info);
  info << 31;
  EXPECT_EQ(info.str(),
            "(null)\n"
            "head=2, data=0, tail=65534\n"
            "head=1, data=2, tail=65533\ndump:\n 1f 2\n31");
}

using PacketDeathTest = ::testing::Test;

TEST_F(PacketDeathTest, AssertionsReportTheConditionAndThePacket) {
  EXPECT_DEATH({ Packet p; p.reserve_head(65537); }, assertion("length>packet_max_size") + "\\(null\\)");
  EXPECT_DEATH({ Packet p; p.reserve_tail(65537); }, assertion("len>packet_max_size"));
  EXPECT_DEATH({ Packet p; p.put8(1); }, assertion("null packet"));
  EXPECT_DEATH({ Packet p; p.pull8(); }, assertion("null packet"));
  EXPECT_DEATH({ Packet p; p.put(Packet()); p.put(bytes({1})); }, assertion("null packet"));
  EXPECT_DEATH(
      {
        Packet p;
        p.reserve_tail(1);
        p.put8(0xAB);
        p.put8(0xCD);
      },
      assertion("len<=_tailroom\\(\\)") + "head=65535, data=1, tail=0\ndump:\n ab\n");
  EXPECT_DEATH({ Packet p = bytes({}, 0); p.push8(1); }, assertion("len<=_headroom\\(\\)"));
  EXPECT_DEATH({ Packet p = bytes({1}); p.pull(2); }, assertion("len<=_length\\(\\)"));
  EXPECT_DEATH({ Packet p = bytes({1}); p.trim(2); }, assertion("len<=_length\\(\\)"));
  EXPECT_DEATH({ Packet p = bytes({1}); p[1] = 0; }, assertion("index out of range"));
  EXPECT_DEATH({ Packet p = bytes({1}); p[-1] = 0; }, assertion("index out of range"));
  EXPECT_DEATH({ bytes({1, 2, 3, 4}).sub(4, 1); }, assertion("start\\+len<=_length\\(\\)"));
  EXPECT_DEATH({ bytes({1, 2}).sub(0, 3); }, assertion("start<=_length\\(\\)"));
  EXPECT_DEATH({ Packet p = bytes({}); p.passert(false, "custom text"); }, assertion("custom text"));
}

TEST_F(PacketDeathTest, MendedBoundsRefuseInsteadOfCorrupting) {
  // Extra head room comes out of the tail room, extra tail room out of the head room.
  EXPECT_DEATH({ Packet p = bytes({1}, 65530); p.reserve_head(6); }, assertion("new_len>packet_max_size"));
  EXPECT_DEATH({ Packet p = bytes({1}, 5); p.reserve_tail(6); },
               assertion("_tailroom\\(\\)\\+len <= packet_max_size"));
  // One length byte cannot frame more than 255 bytes.
  EXPECT_DEATH({ Packet p = bytes({}); p.put(std::string(256, 'x')); }, assertion("s.length\\(\\)<=255"));
}

TEST_F(PacketDeathTest, CheckFailAndNullSmartPointer) {
  EXPECT_DEATH({ bytes({}).check_fail("after \"%s\" fdata invalid", "put"); },
               "packet check fail\nafter \"put\" fdata invalid\nterminate.\n");
  EXPECT_DEATH({ Packet p; p.check("trim"); }, "after \"trim\" packet is null");
  EXPECT_DEATH({ Smart_pointer<_Packet> s; s->count = 1; }, "SMART POINTER ASSERTION!\n");
  EXPECT_DEATH({ SharedPtrAssertion(); }, "SHARED POINTER ASSERTION!\n");
}

namespace {

struct Status {
  explicit Status(int* deleted) : deleted(deleted) {}
  virtual ~Status() { ++*deleted; }
  unsigned refs = 0;
  int* deleted;
};
struct Failure : Status {
  using Status::Status;
};

}  // namespace

TEST(SmartPointer, SharedObjectsAreDeletedWithTheLastHolderAndNeverCopied) {
  int deleted = 0;
  {
    Smart_pointer<Status> a = new Failure(&deleted);
    EXPECT_EQ(a->refs, 1u);
    Smart_pointer<Status> b = a;
    Smart_pointer<Status> c;
    c = a;
    c = c.get();  // self-assignment keeps the object
    EXPECT_EQ(a->refs, 3u);
    EXPECT_EQ(b.get(), a.get());  // writable access does not copy
    a = nullptr;
    b = Smart_pointer<Status>();
    EXPECT_EQ(deleted, 0);
    const Smart_pointer<Status>& ref = c;
    ref->refs += 0;  // a const pointer still reaches a non-const object
    Smart_pointer<Status> d = std::move(c);
    EXPECT_TRUE(c.is_null());
    EXPECT_EQ(d->refs, 1u);
  }
  EXPECT_EQ(deleted, 1);
}

#ifdef VX_POOL_ASAN
// A position kept past the release of its packet points into a free pool buffer, which the
// address sanitizer keeps poisoned.
TEST_F(PacketDeathTest, FreeBuffersArePoisoned) {
  EXPECT_DEATH(
      {
        const unsigned char* kept;
        {
          Packet p = bytes({1});
          kept = p.data();
        }
        volatile unsigned char c = *kept;
        (void)c;
      },
      "use-after-poison");
}
#endif

TEST(ListAllocator, LastInFirstOutAndGuardedRelease) {
  using Pool = List_allocator<long, 3, Dummy_critical_section>;
  Pool& pool = Pool::instance();
  EXPECT_EQ(pool.free_count(), 3u);
  long* a = pool.allocate();
  long* b = pool.allocate();
  long* c = pool.allocate();
  EXPECT_LT(a, b);  // handed out in address order at start
  EXPECT_LT(b, c);
  EXPECT_EQ(pool.allocate(), nullptr);
  pool.deallocate(c);
  pool.deallocate(a);
  EXPECT_EQ(pool.free_count(), 2u);
  EXPECT_EQ(pool.allocate(), a);
  EXPECT_EQ(pool.allocate(), c);
  pool.deallocate(b);
  EXPECT_DEATH(pool.deallocate(b), "pool: block released twice");
  long local = 0;
  EXPECT_DEATH(pool.deallocate(&local), "pool: release of a foreign block");
  EXPECT_DEATH(pool.deallocate(reinterpret_cast<long*>(reinterpret_cast<char*>(a) + 1)),
               "pool: release of a foreign block");
  pool.deallocate(a);
  pool.deallocate(c);
  EXPECT_EQ(pool.free_count(), 3u);
}
