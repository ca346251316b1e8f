#pragma once
// Numbers that must differ between the sessions of one run and between runs (RTP SSRCs, LAPD
// reference numbers), taken from the kernel's random source. Nothing seeds or replays them: a
// repeatable pattern (the bus self-test's) keeps a generator of its own.
#include <cstdint>

namespace Random {

// 32 unpredictable bits. Before the kernel's pool is ready (early at boot) the bits come from
// its non-blocking device, and failing both from a mix of this process's id, the monotonic
// clock and a count: never from the time of day, which two boards may share.
uint32_t word();

}  // namespace Random
