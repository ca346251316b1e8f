#include "asn1/SEQUENCE.h"

#include "asn1/Visitor.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace ASN1 {

const unsigned SEQUENCE::defaultTag = 0;

void SEQUENCE::BitMap::resize(unsigned n)
{
    if (n == totalBits_)  // bits past the size are kept clear, so nothing to do
        return;
    const size_t count = (size_t(n) + 7) / 8;
    if (count <= sizeof inline_) {
        if (!heap_.empty()) {
            std::memcpy(inline_, heap_.data(), count);
            std::vector<unsigned char>().swap(heap_);
        }
        std::memset(inline_ + count, 0, sizeof inline_ - count);
    } else {
        if (heap_.empty())
            heap_.assign(inline_, inline_ + sizeof inline_);
        heap_.resize(count, 0);
    }
    totalBits_ = n;
    if (n % 8)
        bytes()[count - 1] = static_cast<unsigned char>(bytes()[count - 1] & (0xFF00 >> (n % 8)));
}

void SEQUENCE::BitMap::resetLong(unsigned n)
{
    resize(0);
    resize(n);
}

void SEQUENCE::BitMap::clear(unsigned n)
{
    if (n < totalBits_)
        bytes()[n / 8] = static_cast<unsigned char>(bytes()[n / 8] & ~(0x80 >> (n % 8)));
}

bool SEQUENCE::BitMap::any() const
{
    const unsigned char* d = data();
    for (size_t i = 0, count = (size_t(totalBits_) + 7) / 8; i < count; ++i)
        if (d[i])
            return true;
    return false;
}

namespace {

struct FieldsGuard {
    SEQUENCE::FieldVector& fields;
    bool armed = true;
    ~FieldsGuard()
    {
        if (armed)
            for (AbstractData* f : fields)
                delete f;
    }
};

}  // namespace

SEQUENCE::SEQUENCE(const void* infoRecord)
    : AbstractData(infoRecord),
      // Sized and cleared in one step, not grown.
      fields_(info()->numFields + info()->knownExtensions, nullptr)
{
    const SequenceInfo* r = info();
    FieldsGuard guard{fields_};
    optionalMap_.reset(r->numOptional);
    for (unsigned i = 0; i < r->numFields; ++i)
        if (r->fieldIds[i] == -1)
            fields_[i] = createFrom(r->fieldInfos[i]);
    if (r->defaultExtensionBitmap) {
        extensionMap_.reset(r->knownExtensions);
        for (unsigned k = 0; k < r->knownExtensions; ++k) {
            if (r->defaultExtensionBitmap[k / 8] & (0x80 >> (k % 8))) {
                extensionMap_.set(k);
                fields_[r->numFields + k] = createFrom(r->fieldInfos[r->numFields + k]);
            }
        }
    }
    guard.armed = false;
}

SEQUENCE::SEQUENCE(const SEQUENCE& other)
    : AbstractData(other), optionalMap_(other.optionalMap_), extensionMap_(other.extensionMap_)
{
    fields_.assign(other.fields_.size(), nullptr);
    FieldsGuard guard{fields_};
    for (size_t i = 0; i < other.fields_.size(); ++i)
        if (other.fields_[i])
            fields_[i] = other.fields_[i]->clone();
    guard.armed = false;
}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& other)
{
    if (this != &other) {
        SEQUENCE copy(other);
        swap(copy);
    }
    return *this;
}

SEQUENCE::~SEQUENCE()
{
    for (AbstractData* f : fields_)
        delete f;
}

void SEQUENCE::swap(SEQUENCE& other)
{
    fields_.swap(other.fields_);
    std::swap(optionalMap_, other.optionalMap_);
    std::swap(extensionMap_, other.extensionMap_);
}

void SEQUENCE::includeOptionalField(unsigned opt, unsigned field)
{
    if (opt < optionalMap_.size()) {
        optionalMap_.set(opt);
    } else {
        unsigned k = opt - optionalMap_.size();
        if (k >= extensionMap_.size())
            extensionMap_.resize(k + 1);
        extensionMap_.set(k);
    }
    if (field < fields_.size() && !fields_[field])
        fields_[field] = createFrom(info()->fieldInfos[field]);
}

void SEQUENCE::removeOptionalField(unsigned opt)
{
    if (opt < optionalMap_.size())
        optionalMap_.clear(opt);
    else
        extensionMap_.clear(opt - optionalMap_.size());
}

void SEQUENCE::setField(unsigned i, AbstractData* value)
{
    std::unique_ptr<AbstractData> owned(value);
    if (i >= fields_.size())
        return;
    delete fields_[i];
    fields_[i] = owned.release();
}

AbstractData& SEQUENCE::fieldAt(unsigned i)
{
    AbstractData*& slot = fields_.at(i);
    if (!slot) {
        slot = createFrom(info()->fieldInfos[i]);
        if (!slot)
            throw std::logic_error("SEQUENCE field without a type");
    }
    return *slot;
}

namespace {

int compareSlots(const AbstractData* a, const AbstractData* b)
{
    if (a && b)
        return a->compare(*b);
    return int(a != nullptr) - int(b != nullptr);
}

}  // namespace

int SEQUENCE::do_compare(const AbstractData& otherData) const
{
    const auto& other = *boost::polymorphic_downcast<const SEQUENCE*>(&otherData);
    // Field i with optional index o (-1: mandatory): an absent field sorts first, and a field
    // absent from both compares equal.
    auto compareField = [&](unsigned i, int o) {
        if (o != -1) {
            bool a = hasOptionalField(o), b = other.hasOptionalField(o);
            if (a != b)
                return int(a) - int(b);
            if (!a)
                return 0;
        }
        return compareSlots(getField(i), other.getField(i));
    };
    const SequenceInfo* r = info();
    int last = -1;
    for (unsigned i = 0; i < r->numFields; ++i) {
        int o = r->fieldIds[i];
        if (o != -1)
            last = o;
        if (int c = compareField(i, o))
            return c;
    }
    // Extensions are optional, numbered on from the last optional root field.
    for (unsigned i = r->numFields; i < fields_.size(); ++i)
        if (int c = compareField(i, ++last))
            return c;
    return 0;
}

AbstractData* SEQUENCE::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<SEQUENCE*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
