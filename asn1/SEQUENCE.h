// ASN.1 SEQUENCE (and SET): owned field values in record order, with presence bit maps for
// the OPTIONAL root fields and the extension additions.
#pragma once

#include "asn1/AbstractData.h"
#include "asn1/ValuePool.h"

#include <boost/polymorphic_cast.hpp>

#include <vector>

namespace ASN1 {

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
public:
    // Presence bits, most significant bit of each byte first; reads beyond the size are false.
    // Up to 64 bits live in the object itself, so that most values allocate nothing here.
    class BitMap {
    public:
        unsigned size() const { return totalBits_; }
        // New bits are clear, and so are the bits cut off by shrinking.
        void resize(unsigned n);
        // n bits, all clear.
        void reset(unsigned n)
        {
            if (n <= 8 * sizeof inline_ && heap_.empty()) {
                for (unsigned char& b : inline_)
                    b = 0;
                totalBits_ = n;
                return;
            }
            resetLong(n);
        }
        bool operator[](unsigned n) const { return n < totalBits_ && (data()[n / 8] & (0x80 >> (n % 8))); }
        void set(unsigned n)
        {
            if (n < totalBits_)
                bytes()[n / 8] = static_cast<unsigned char>(bytes()[n / 8] | (0x80 >> (n % 8)));
        }
        void clear(unsigned n);
        bool any() const;
        // (size() + 7) / 8 bytes.
        const unsigned char* data() const { return heap_.empty() ? inline_ : heap_.data(); }

    private:
        void resetLong(unsigned n);
        unsigned char* bytes() { return heap_.empty() ? inline_ : heap_.data(); }

        unsigned totalBits_ = 0;
        unsigned char inline_[8] = {};
        std::vector<unsigned char> heap_;  // only for more than 64 bits
    };
    typedef std::vector<AbstractData*, detail::PoolAllocator<AbstractData*>> FieldVector;

    // Tag table marker: each field keeps its own type's tag.
    static const unsigned defaultTag;

    explicit SEQUENCE(const void* info);
    SEQUENCE(const SEQUENCE& other);
    SEQUENCE& operator=(const SEQUENCE& other);
    ~SEQUENCE() override;
    void swap(SEQUENCE& other);

    const SequenceInfo* info() const { return static_cast<const SequenceInfo*>(infoRecord()); }

    // Presence index n: an optional root field below numOptional, else extension bit n - numOptional.
    bool hasOptionalField(unsigned n) const
    {
        if (n < optionalMap_.size())
            return optionalMap_[n];
        return extensionMap_[n - optionalMap_.size()];
    }
    void includeOptionalField(unsigned opt, unsigned field);
    void removeOptionalField(unsigned opt);

    unsigned numSlots() const { return static_cast<unsigned>(fields_.size()); }
    // The value in slot i, null when none was ever built.
    AbstractData* getField(unsigned i) const { return i < fields_.size() ? fields_[i] : nullptr; }
    // Replaces the value of slot i (ownership taken); the old value is deleted.
    void setField(unsigned i, AbstractData* value);
    // The value in slot i, built from its record when the slot is empty (presence unchanged).
    AbstractData& fieldAt(unsigned i);
    const AbstractData& fieldAt(unsigned i) const { return const_cast<SEQUENCE*>(this)->fieldAt(i); }

    // Typed field access for the schema classes.
    template <class T>
    T& field(unsigned i) { return *boost::polymorphic_downcast<T*>(&fieldAt(i)); }
    template <class T>
    const T& field(unsigned i) const { return *boost::polymorphic_downcast<const T*>(&fieldAt(i)); }

    BitMap& optionalMap() { return optionalMap_; }
    const BitMap& optionalMap() const { return optionalMap_; }
    BitMap& extensionMap() { return extensionMap_; }
    const BitMap& extensionMap() const { return extensionMap_; }

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    FieldVector fields_;
    BitMap optionalMap_;
    BitMap extensionMap_;
};

}  // namespace ASN1
