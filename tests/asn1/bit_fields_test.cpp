// The PER coder's bit fields against a plain bit-by-bit reference at every width and every
// starting offset; the value pool that value trees live in.
#include "asn1/PERDecoder.h"
#include "asn1/PEREncoder.h"
#include "asn1/ValuePool.h"
#include "tests/asn1/ProbeSchema.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Most significant bit first, one bit at a time.
std::vector<char> referenceBits(const std::vector<std::pair<uint32_t, unsigned>>& fields)
{
    std::vector<char> out;
    unsigned used = 8;
    for (auto [value, width] : fields)
        for (unsigned b = width; b-- > 0;) {
            if (used == 8) {
                out.push_back(0);
                used = 0;
            }
            if ((value >> b) & 1)
                out.back() = static_cast<char>(out.back() | (0x80 >> used));
            ++used;
        }
    return out;
}

TEST(BitFields, EveryWidthAtEveryOffsetMatchesTheBitByBitForm)
{
    std::mt19937 rng(7);
    for (unsigned lead = 0; lead < 8; ++lead)
        for (unsigned width = 0; width <= 32; ++width) {
            std::vector<std::pair<uint32_t, unsigned>> fields = {{0x5A, lead}, {rng(), width}, {rng(), 13},
                                                                 {rng(), width}, {1, 1}};
            for (auto& f : fields)
                if (f.second < 32)
                    f.first &= (1u << f.second) - 1;
            std::vector<char> out = {'\x77'};  // appends after what the vector already holds
            ASN1::PEREncoder enc(out);
            for (auto [value, w] : fields)
                enc.encodeMultiBit(value, w);
            std::vector<char> want = referenceBits(fields);
            want.insert(want.begin(), '\x77');
            ASSERT_EQ(out, want) << "lead " << lead << " width " << width;

            ASN1::PERDecoder dec(out.data() + 1, out.data() + out.size(), nullptr);
            for (auto [value, w] : fields) {
                uint32_t got = ~0u;
                ASSERT_TRUE(dec.decodeMultiBit(w, got));
                ASSERT_EQ(got, value) << "lead " << lead << " width " << w;
            }
            // Past the end only the padding of the last octet is left.
            uint32_t rest;
            const size_t left = dec.getBitsLeft();
            EXPECT_LT(left, 8u);
            EXPECT_FALSE(dec.decodeMultiBit(static_cast<unsigned>(left) + 1, rest));
            EXPECT_EQ(dec.getBitsLeft(), left) << "a failed read takes nothing";
            EXPECT_FALSE(dec.decodeMultiBit(33, rest));
        }
}

TEST(ValuePool, BlocksAreRecycledByClassAndBoundedPerList)
{
    using namespace ASN1::detail;
    if (!poolRecycles())
        GTEST_SKIP() << "blocks are not recycled under AddressSanitizer";
    void* a = poolAllocate(40);
    poolRelease(a, 40);
    const uint64_t misses = poolHeapAllocations();
    EXPECT_EQ(poolAllocate(33), a) << "the same class of 48 bytes";
    EXPECT_EQ(poolHeapAllocations(), misses);
    void* other = poolAllocate(100);
    EXPECT_NE(other, a);
    poolRelease(a, 33);
    poolRelease(other, 100);

    // A list holds at most kPoolDepth blocks; the rest goes back to the heap.
    std::vector<void*> many;
    for (size_t i = 0; i < kPoolDepth + 10; ++i)
        many.push_back(poolAllocate(500));
    for (void* p : many)
        poolRelease(p, 500);
    const uint64_t before = poolHeapAllocations();
    for (size_t i = 0; i < kPoolDepth; ++i)
        many[i] = poolAllocate(500);
    EXPECT_EQ(poolHeapAllocations(), before);
    void* extra = poolAllocate(500);
    EXPECT_EQ(poolHeapAllocations(), before + 1);
    poolRelease(extra, 500);
    for (size_t i = 0; i < kPoolDepth; ++i)
        poolRelease(many[i], 500);
}

TEST(ValuePool, ValuesMoveBetweenThreadsAndOutliveTheirThread)
{
    // A value built on one thread and dropped on another, and a thread that ends with blocks
    // in its lists: nothing is lost or freed twice (checked under the sanitizers).
    Probe::Message* m = nullptr;
    std::thread([&] {
        m = new Probe::Message;
        m->field<Probe::Pick>(Probe::Message::pick).setSelection(Probe::Pick::num, new ASN1::INTEGER(3));
        delete new Probe::Numbers;
    }).join();
    delete m;
    std::thread([] { delete new Probe::Lists; }).join();
}

}  // namespace
