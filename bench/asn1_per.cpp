// Aligned PER encode and decode of a message mix: ns per message and heap allocations per
// message, against two peers in the same run: a hand-written encoder that packs the same
// octets for one type straight from a plain struct, and a memcpy of each frame.
#include "bench/CountedNew.h"
#include "tests/asn1/ProbeSchema.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace Probe;

std::vector<std::unique_ptr<ASN1::AbstractData>> mix()
{
    std::vector<std::unique_ptr<ASN1::AbstractData>> out;
    auto root = std::make_unique<Message>();
    root->field<ASN1::BOOLEAN>(Message::flag) = true;
    root->field<Pick>(Message::pick).setSelection(Pick::num, new ASN1::INTEGER(300));
    root->field<ExtPick>(Message::ext).setSelection(ExtPick::a, new Range<0, 255>(200));
    out.push_back(std::move(root));

    auto ext = std::make_unique<Message>();
    ext->includeOptionalField(0, Message::inner);
    ext->field<Inner>(Message::inner).set_count(6);
    ext->field<Pick>(Message::pick).setSelection(Pick::text, new ASN1::IA5String("dial 1234"));
    ext->field<ExtPick>(Message::ext).setSelection(ExtPick::d, new Inner(true, 1));
    ext->includeOptionalField(1, Message::added1);
    ext->field<ASN1::INTEGER>(Message::added1) = 70000;
    out.push_back(std::move(ext));

    auto numbers = std::make_unique<Numbers>();
    numbers->includeOptionalField(0, 0);
    numbers->field<ASN1::INTEGER>(0) = 4711;
    numbers->field<Range<0, 1023>>(4) = 512u;
    numbers->field<Range<0, 4294967295u>>(5) = 65536u;
    numbers->field<Range<5, 5>>(7) = 5u;
    out.push_back(std::move(numbers));

    auto lists = std::make_unique<Lists>();
    for (int i = 0; i < 10; ++i)
        lists->get_ints().push_back(ASN1::INTEGER(i * 1000));
    lists->get_few().push_back(ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    lists->get_names().push_back(ASN1::IA5String("trunk-1"));
    out.push_back(std::move(lists));
    return out;
}

std::unique_ptr<ASN1::AbstractData> emptyLike(size_t i)
{
    switch (i) {
    case 0:
    case 1: return std::make_unique<Message>();
    case 2: return std::make_unique<Numbers>();
    default: return std::make_unique<Lists>();
    }
}

const std::vector<std::unique_ptr<ASN1::AbstractData>>& values()
{
    static auto v = mix();
    return v;
}

const std::vector<std::vector<char>>& frames()
{
    static std::vector<std::vector<char>> f = [] {
        std::vector<std::vector<char>> out;
        ASN1::CoderEnv env;
        for (const auto& v : values()) {
            out.emplace_back();
            if (!ASN1::encode(*v, &env, std::back_inserter(out.back())))
                std::abort();
        }
        return out;
    }();
    return f;
}

// Peer: the Numbers type packed by hand from a plain struct, to the same octets.
struct PlainNumbers {
    bool hasSeq;
    int seq;
    unsigned small, byte, word, slot, big;
    int neg, wide;
};

class Bits {
public:
    explicit Bits(std::vector<char>& out) : out_(out) {}
    void put(uint32_t v, unsigned n)
    {
        while (n > 0) {
            if (free_ == 8)
                out_.push_back(0);
            unsigned k = n < free_ ? n : free_;
            uint32_t chunk = (v >> (n - k)) & ((1u << k) - 1);
            out_.back() = static_cast<char>(out_.back() | (chunk << (free_ - k)));
            free_ -= k;
            n -= k;
            if (free_ == 0)
                free_ = 8;
        }
    }
    void align() { free_ = 8; }
    void octets(uint32_t v, unsigned k) { align(); put(v, 8 * k); }

private:
    std::vector<char>& out_;
    unsigned free_ = 8;
};

unsigned octetsOf(uint32_t v) { return v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4; }

void packNumbers(const PlainNumbers& n, std::vector<char>& out)
{
    Bits b(out);
    b.put(n.hasSeq, 1);
    if (n.hasSeq) {
        unsigned k = (n.seq >= -128 && n.seq <= 127) ? 1 : (n.seq >= -32768 && n.seq <= 32767) ? 2
                     : (n.seq >= -8388608 && n.seq <= 8388607) ? 3 : 4;
        b.octets(k, 1);
        b.put(static_cast<uint32_t>(n.seq), 8 * k);
    }
    b.put(n.small, 3);
    b.octets(n.byte, 1);
    b.octets(n.word, 2);
    b.octets(n.slot, 2);
    unsigned k = octetsOf(n.big);
    b.put(k - 1, 2);
    b.octets(n.big, k);
    b.octets(static_cast<uint32_t>(n.neg + 128), 1);
    uint32_t w = static_cast<uint32_t>(n.wide + 100000);
    k = octetsOf(w);
    b.put(k - 1, 2);
    b.octets(w, k);
}

const PlainNumbers plain{true, 4711, 0, 0, 0, 512, 65536, 0, 0};

void BM_PerEncode(benchmark::State& state)
{
    const auto& v = values();
    std::vector<char> out;
    out.reserve(256);
    ASN1::CoderEnv env;
    size_t i = 0;
    unsigned long before = bench::allocations.load();
    for (auto _ : state) {
        out.clear();
        bool ok = ASN1::encode(*v[i], &env, std::back_inserter(out));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
        i = (i + 1) % v.size();
    }
    state.counters["allocs/msg"] = double(bench::allocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_PerEncode);

void BM_PerDecode(benchmark::State& state)
{
    const auto& f = frames();
    ASN1::CoderEnv env;
    size_t i = 0;
    unsigned long before = bench::allocations.load();
    for (auto _ : state) {
        auto value = emptyLike(i);
        bool ok = ASN1::decode(f[i].data(), f[i].data() + f[i].size(), &env, *value, true);
        benchmark::DoNotOptimize(ok);
        i = (i + 1) % f.size();
    }
    state.counters["allocs/msg"] = double(bench::allocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_PerDecode);

void BM_PerEncodeNumbers(benchmark::State& state)
{
    const auto& n = *values()[2];
    std::vector<char> out;
    out.reserve(256);
    ASN1::CoderEnv env;
    for (auto _ : state) {
        out.clear();
        bool ok = ASN1::encode(n, &env, std::back_inserter(out));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PerEncodeNumbers);

void BM_PeerHandPackedNumbers(benchmark::State& state)
{
    std::vector<char> out;
    out.reserve(256);
    for (auto _ : state) {
        out.clear();
        packNumbers(plain, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_PeerHandPackedNumbers);

void BM_PeerMemcpyFrame(benchmark::State& state)
{
    const auto& f = frames();
    std::vector<char> out;
    out.reserve(256);
    size_t i = 0;
    for (auto _ : state) {
        out.resize(f[i].size());
        std::memcpy(out.data(), f[i].data(), f[i].size());
        benchmark::DoNotOptimize(out.data());
        i = (i + 1) % f.size();
    }
}
BENCHMARK(BM_PeerMemcpyFrame);

// Keeps each benchmark's time per iteration so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns;
    std::set<std::string> means;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            // One figure per benchmark: the mean when repeated, else the single run.
            const std::string& name = r.run_name.function_name;
            if (r.run_type == Run::RT_Aggregate ? r.aggregate_name == "mean" : !means.count(name))
                ns[name] = r.GetAdjustedRealTime();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean")
                means.insert(name);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    {
        std::vector<char> hand, generic;
        packNumbers(plain, hand);
        ASN1::CoderEnv env;
        ASN1::encode(*values()[2], &env, std::back_inserter(generic));
        if (hand != generic) {
            std::fprintf(stderr, "hand-packed peer does not match the PER encoder\n");
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* a, const char* b) {
        if (reporter.ns.count(a) && reporter.ns.count(b) && reporter.ns[b] > 0)
            std::printf("ratio %s / %s = %.1f\n", a, b, reporter.ns[a] / reporter.ns[b]);
    };
    ratio("BM_PerEncodeNumbers", "BM_PeerHandPackedNumbers");
    ratio("BM_PerEncode", "BM_PeerMemcpyFrame");
    ratio("BM_PerDecode", "BM_PeerMemcpyFrame");
    benchmark::Shutdown();
    return 0;
}
