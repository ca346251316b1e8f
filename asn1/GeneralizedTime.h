// ASN.1 GeneralizedTime: broken-down time with optional fraction and offset.
#pragma once

#include "asn1/AbstractData.h"

#include <ctime>
#include <string>

namespace ASN1 {

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
public:
    static const TypeInfo theInfo;
    explicit GeneralizedTime(const void* info = &theInfo) : AbstractData(info) {}
    explicit GeneralizedTime(const char* text, const void* info = &theInfo);
    GeneralizedTime(int year, int month, int day, int hour, int minute, int second,
                    int millisec = 0, int mindiff = 0, bool utc = false);
    GeneralizedTime(const GeneralizedTime&) = default;
    GeneralizedTime& operator=(const GeneralizedTime& o);

    // Reads "YYYYMMDDhhmmss[.f][Z|+hhmm]"; fields the text lacks keep their values.
    void set(const char* text);
    std::string get() const;
    time_t get_time_t() const;
    void set_time_t(time_t t);
    void swap(GeneralizedTime& o);
    bool isStrictlyValid() const;

    int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int millisec = 0;
    int mindiff = 0;  // offset from UTC in minutes
    bool utc = false;

public:
    int do_compare(const AbstractData& other) const override;

protected:
    AbstractData* do_clone() const override;
    bool do_accept(Visitor& v) override;
    bool do_accept(ConstVisitor& v) const override;
};

}  // namespace ASN1
