// The one entry point for coding a protocol value: an environment names the encoding rule
// (2 = aligned PER, the only one on any wire; 1 = BER; 0 = value-notation text) and
// encode/decode select the coder from it.
#pragma once

#include <loki/AssocVector.h>

#include <cstring>
#include <memory>
#include <utility>
#include <iterator>
#include <vector>

namespace ASN1 {

class AbstractData;
class Module;

class CoderEnv {
public:
    enum Rule { avn = 0, ber = 1, per = 2 };

    struct StringListeralCmp {
        typedef const char* first_argument_type;
        typedef const char* second_argument_type;
        typedef bool result_type;
        bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
    };
    // The map's allocator with the member types the map still asks for.
    template <class T>
    struct ModuleAllocator : std::allocator<T> {
        typedef T& reference;
        typedef const T& const_reference;
        typedef T* pointer;
        typedef const T* const_pointer;
        template <class U>
        struct rebind {
            typedef ModuleAllocator<U> other;
        };
        ModuleAllocator() = default;
        template <class U>
        ModuleAllocator(const ModuleAllocator<U>&) {}
    };
    typedef Loki::AssocVector<const char*, Module*, StringListeralCmp,
                              ModuleAllocator<std::pair<const char*, Module*>>>
        ModuleMap;

    explicit CoderEnv(int rule = per) : encodingRule_(rule) {}

    int get_encodingRule() const { return encodingRule_; }
    void set_encodingRule(int rule) { encodingRule_ = rule; }
    ModuleMap& modules() { return modules_; }

    // The value's octets by the environment's rule, appended to out; out is untouched on failure.
    bool encodeBytes(const AbstractData& value, std::vector<char>& out) const;
    template <class OutIt>
    bool encodeBER(const AbstractData& value, OutIt out) const;
    template <class OutIt>
    bool encodeAVN(const AbstractData& value, OutIt out) const;

    // Fills value from first..last; defer: keep open types undecoded. The value may be
    // partly filled on failure.
    bool decode(const char* first, const char* last, AbstractData& value, bool defer) const;

private:
    int encodingRule_;
    ModuleMap modules_;
};

// Coders of the rules besides PER; each fills out (a fresh vector) and reports success.
namespace detail {
bool encodePER(const AbstractData& value, std::vector<char>& out);
bool encodeBER(const AbstractData& value, std::vector<char>& out);
bool encodeAVN(const AbstractData& value, std::vector<char>& out);
bool decodePER(const char* first, const char* last, const CoderEnv* env, AbstractData& value);
bool decodeBER(const char* first, const char* last, const CoderEnv* env, AbstractData& value);
bool decodeAVN(const char* first, const char* last, AbstractData& value);
}  // namespace detail

template <class OutIt>
bool CoderEnv::encodeBER(const AbstractData& value, OutIt out) const
{
    std::vector<char> bytes;
    if (!detail::encodeBER(value, bytes))
        return false;
    for (char c : bytes)
        *out++ = c;
    return true;
}

template <class OutIt>
bool CoderEnv::encodeAVN(const AbstractData& value, OutIt out) const
{
    std::vector<char> text;
    if (!detail::encodeAVN(value, text))
        return false;
    for (char c : text)
        *out++ = c;
    return true;
}

// Encodes value by env's rule and copies the octets to out; nothing reaches out on failure.
template <class OutIt>
bool encode(const AbstractData& value, const CoderEnv* env, OutIt out)
{
    std::vector<char> bytes;
    if (!env || !env->encodeBytes(value, bytes))
        return false;
    for (char c : bytes)
        *out++ = c;
    return true;
}

// Appending to a byte vector: the octets go straight to the vector, with no buffer between.
inline bool encode(const AbstractData& value, const CoderEnv* env, std::back_insert_iterator<std::vector<char>> out)
{
    // The container of a back inserter is a protected member; a member pointer taken in a
    // derived class reaches it without a copy of the octets.
    struct Access : std::back_insert_iterator<std::vector<char>> {
        static std::vector<char>& of(std::back_insert_iterator<std::vector<char>>& it)
        {
            return *(it.*(&Access::container));
        }
    };
    return env && env->encodeBytes(value, Access::of(out));
}

// Fills value from the octets first..last (pointers to char or unsigned char) by env's rule.
template <class InIt>
bool decode(InIt first, InIt last, const CoderEnv* env, AbstractData& value, bool defer = false)
{
    return env && env->decode(reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(last),
                              value, defer);
}

}  // namespace ASN1
