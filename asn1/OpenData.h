// ASN.1 open types: OpenData holds a decoded value, the undecoded octets, or neither;
// TypeConstrainedOpenData carries a value of the type its record names.
#pragma once

#include "asn1/AbstractData.h"

#include <memory>
#include <vector>

namespace ASN1 {

class OpenData : public AbstractData, public detail::Allocator<OpenData> {
public:
    static const OpenInfo theInfo;
    explicit OpenData(const void* info = &theInfo) : AbstractData(info) {}
    OpenData(const OpenData& other);
    OpenData& operator=(const OpenData& other);
    void swap(OpenData& other);

    const OpenInfo* info() const { return static_cast<const OpenInfo*>(infoRecord()); }

    bool has_data() const { return data_ != nullptr; }
    bool has_buf() const { return buf_ != nullptr; }
    AbstractData* get_data() const { return data_.get(); }
    const std::vector<char>* get_buf() const { return buf_.get(); }
    std::vector<char>* get_buf() { return buf_.get(); }
    void grab(AbstractData* value) { data_.reset(value); }
    void set_buf(std::vector<char>* bytes) { buf_.reset(bytes); }
    void set_buf(const char* first, const char* last) { buf_.reset(new std::vector<char>(first, last)); }

    bool isValid() const;
    bool isStrictlyValid() const;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;

private:
    std::unique_ptr<AbstractData> data_;
    std::unique_ptr<std::vector<char>> buf_;
};

class TypeConstrainedOpenData : public OpenData, public detail::Allocator<TypeConstrainedOpenData> {
public:
    // Holds a new value of the record's contained type.
    explicit TypeConstrainedOpenData(const void* info);

protected:
    bool do_accept(Visitor& v) override;
};

}  // namespace ASN1
