#include "asn1/OpenData.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

namespace ASN1 {

const OpenInfo OpenData::theInfo = {{&createAs<OpenData>, 0}, nullptr};

OpenData::OpenData(const OpenData& other)
    : AbstractData(other),
      data_(other.data_ ? other.data_->clone() : nullptr),
      buf_(other.buf_ ? new std::vector<char>(*other.buf_) : nullptr)
{
}

OpenData& OpenData::operator=(const OpenData& other)
{
    if (this != &other) {
        OpenData copy(other);
        swap(copy);
    }
    return *this;
}

void OpenData::swap(OpenData& other)
{
    data_.swap(other.data_);
    buf_.swap(other.buf_);
}

bool OpenData::isValid() const { return data_ ? data_->isValid() : buf_ != nullptr; }
bool OpenData::isStrictlyValid() const { return data_ ? data_->isStrictlyValid() : buf_ != nullptr; }

int OpenData::do_compare(const AbstractData& otherData) const
{
    const auto& other = *boost::polymorphic_downcast<const OpenData*>(&otherData);
    if (data_ && other.data_)
        return data_->compare(*other.data_);
    if (!data_ && !other.data_) {
        if (buf_ && other.buf_)
            return lexicographic_compare_bytes(buf_->data(), buf_->data() + buf_->size(),
                                               other.buf_->data(), other.buf_->data() + other.buf_->size());
        if (!buf_ && !other.buf_)
            return 0;
    }
    return data_ ? 1 : -1;
}

AbstractData* OpenData::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<OpenData*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool OpenData::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OpenData::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

TypeConstrainedOpenData::TypeConstrainedOpenData(const void* info) : OpenData(info)
{
    grab(createFrom(this->info()->containedInfo));
}

bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.do_visit(*this); }

}  // namespace ASN1
