#include "asn1/GeneralizedTime.h"

#include "asn1/Visitor.h"

#include <boost/polymorphic_cast.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace ASN1 {

const TypeInfo GeneralizedTime::theInfo = {&createAs<GeneralizedTime>, 24};

GeneralizedTime::GeneralizedTime(const char* text, const void* info) : AbstractData(info)
{
    set(text);
}

GeneralizedTime::GeneralizedTime(int y, int mo, int d, int h, int mi, int s, int ms, int md, bool u)
    : AbstractData(&theInfo), year(y), month(mo), day(d), hour(h), minute(mi), second(s),
      millisec(ms), mindiff(md), utc(u)
{
}

GeneralizedTime& GeneralizedTime::operator=(const GeneralizedTime& o)
{
    year = o.year; month = o.month; day = o.day; hour = o.hour; minute = o.minute;
    second = o.second; millisec = o.millisec; mindiff = o.mindiff; utc = o.utc;
    return *this;
}

// The offset "+hhmm" is kept in minutes, so that get() writes back what set() read.
void GeneralizedTime::set(const char* text)
{
    if (!text)
        return;
    size_t len = std::strlen(text);
    std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);
    if (len > 14 && text[14] == '.') {
        double fraction = 0;
        if (std::sscanf(text + 14, "%lf", &fraction) == 1 && fraction >= 0 && fraction < 1)
            millisec = static_cast<int>(fraction * 1000);
    }
    if (len > 0 && text[len - 1] == 'Z') {
        utc = true;
    } else if (len >= 5 && (text[len - 5] == '+' || text[len - 5] == '-')) {
        int hhmm = 0;
        if (std::sscanf(text + len - 5, "%d", &hhmm) == 1)
            mindiff = (hhmm / 100) * 60 + hhmm % 100;
    }
}

std::string GeneralizedTime::get() const
{
    char buf[80];
    int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    std::string s(buf, n > 0 ? size_t(n) : 0);
    if (millisec != 0) {
        n = std::snprintf(buf, sizeof buf, ".%03d", millisec);
        s.append(buf, n > 0 ? size_t(n) : 0);
    }
    if (utc) {
        s += 'Z';
    } else if (mindiff != 0) {
        // In unsigned arithmetic, so that no offset (INT_MIN included) is negated out of range.
        unsigned a = mindiff < 0 ? 0u - static_cast<unsigned>(mindiff) : static_cast<unsigned>(mindiff);
        n = std::snprintf(buf, sizeof buf, "%c%02u%02u", mindiff < 0 ? '-' : '+', a / 60 % 100, a % 60);
        s.append(buf, n > 0 ? size_t(n) : 0);
    }
    return s;
}

time_t GeneralizedTime::get_time_t() const
{
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

void GeneralizedTime::set_time_t(time_t tt)
{
    struct tm t {};
    if (!gmtime_r(&tt, &t))
        return;
    year = t.tm_year + 1900;
    month = t.tm_mon + 1;
    day = t.tm_mday;
    hour = t.tm_hour;
    minute = t.tm_min;
    second = t.tm_sec;
}

void GeneralizedTime::swap(GeneralizedTime& o)
{
    GeneralizedTime tmp(*this);
    *this = o;
    o = tmp;
}

bool GeneralizedTime::isStrictlyValid() const
{
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour <= 24 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 &&
           mindiff >= -720 && mindiff <= 720;
}

int GeneralizedTime::do_compare(const AbstractData& other) const
{
    const auto* o = boost::polymorphic_downcast<const GeneralizedTime*>(&other);
    const int a[] = {year, month, day, hour, minute, second, millisec, int(utc)};
    const int b[] = {o->year, o->month, o->day, o->hour, o->minute, o->second, o->millisec, int(o->utc)};
    for (size_t i = 0; i < 8; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

AbstractData* GeneralizedTime::do_clone() const
{
    auto* copy = boost::polymorphic_downcast<GeneralizedTime*>(createFrom(infoRecord()));
    *copy = *this;
    return copy;
}

bool GeneralizedTime::do_accept(Visitor& v) { return v.do_visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
