// Root of every ASN.1 value: a value object holds its data and a pointer to its type's
// constant info record; generic code works only through this interface and the record.
#pragma once

#include "asn1/Info.h"
#include "asn1/ValuePool.h"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace ASN1 {

class Visitor;
class ConstVisitor;

// Largest element count of a decoded SEQUENCE OF (and of an extension bitmap).
extern unsigned MaximumArraySize;
// Largest string, octet-string or bit-string length a decoder accepts.
extern unsigned MaximumStringSize;
// Largest number of values one decode may create, so that a short frame cannot
// grow into a huge tree.
extern unsigned MaximumDecodeNodes;

namespace detail {
// Marker base of every concrete value class; values come from the value pool (ValuePool.h).
template <class T>
struct Allocator {};
}  // namespace detail

class AbstractData {
public:
    virtual ~AbstractData() = default;

    // Every value object lives in the value pool: a decode that builds a tree and the drop of
    // that tree recycle the same blocks instead of reaching the heap.
    static void* operator new(std::size_t n) { return detail::poolAllocate(n); }
    static void operator delete(void* p, std::size_t n) noexcept { detail::poolRelease(p, n); }

    // A new value of the record's type (the record's own factory), owned by the caller.
    static AbstractData* create(const void* info) { return createFrom(info); }

    const TypeInfo* info() const { return static_cast<const TypeInfo*>(info_); }
    const void* infoRecord() const { return info_; }

    // Both values must be of the same class (same runtime kind).
    int compare(const AbstractData& other) const { return do_compare(other); }
    AbstractData* clone() const { return do_clone(); }
    bool accept(Visitor& v) { return do_accept(v); }
    bool accept(ConstVisitor& v) const { return do_accept(v); }

    bool isValid() const;
    bool isStrictlyValid() const;

    // Value-notation text (AVNEncoder.cpp, AVNDecoder.cpp): print_on and get_from return the
    // stream state to set, 0 or failbit.
    int print_on(std::ostream& os) const;
    int get_from(std::istream& is);
    std::string asValueNotation() const;
    bool setFromValueNotation(const std::string& text);

    // Compares with a value of the same type: 0 when equal.
    virtual int do_compare(const AbstractData& other) const = 0;

    friend bool operator==(const AbstractData& a, const AbstractData& b) { return a.compare(b) == 0; }
    friend bool operator!=(const AbstractData& a, const AbstractData& b) { return a.compare(b) != 0; }

protected:
    explicit AbstractData(const void* info) : info_(info) {}
    AbstractData(const AbstractData&) = default;
    // Assignment copies the content only: the target keeps its record.
    AbstractData& operator=(const AbstractData&) { return *this; }

    virtual AbstractData* do_clone() const = 0;
    virtual bool do_accept(Visitor& v) = 0;
    virtual bool do_accept(ConstVisitor& v) const = 0;

private:
    const void* info_;
};

// Writes value as value notation; nothing when os is not good; failbit when writing fails.
std::ostream& operator<<(std::ostream& os, const AbstractData& value);
// Reads value from value notation; nothing when is is not good; failbit when reading fails.
std::istream& operator>>(std::istream& is, AbstractData& value);

// Width of a field holding n distinct values: 32 for n = 0 (wrapped full range), 0 for n = 1.
inline unsigned CountBits(unsigned n)
{
    if (n == 0)
        return 32;
    if (n == 1)
        return 0;
    return 32u - static_cast<unsigned>(__builtin_clz(n - 1));
}

// Unsigned byte comparison; a proper prefix sorts first (-1 / 1).
int lexicographic_compare_bytes(const char* a_begin, const char* a_end, const char* b_begin,
                                const char* b_end);

}  // namespace ASN1
