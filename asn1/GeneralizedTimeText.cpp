#include "asn1/GeneralizedTimeText.h"

#include "asn1/GeneralizedTime.h"

namespace ASN1 {

namespace {

bool digits(const char* p, size_t n, int& out)
{
    int v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    out = v;
    return true;
}

}  // namespace

bool parseGeneralizedTime(const char* text, size_t length, GeneralizedTime& value)
{
    if (!text || length < 14)
        return false;
    int f[6];
    static const size_t widths[6] = {4, 2, 2, 2, 2, 2};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (!digits(text + at, widths[i], f[i]))
            return false;
        at += widths[i];
    }
    int millisec = 0;
    if (at < length && text[at] == '.') {
        ++at;
        size_t start = at;
        int scale = 100;
        while (at < length && text[at] >= '0' && text[at] <= '9') {
            millisec += (text[at] - '0') * scale;  // digits past the third are dropped
            scale /= 10;
            ++at;
        }
        if (at == start)
            return false;
    }
    bool utc = false;
    int mindiff = 0;
    if (at < length && text[at] == 'Z') {
        utc = true;
        ++at;
    } else if (at < length && (text[at] == '+' || text[at] == '-')) {
        int hh, mm;
        if (length - at != 5 || !digits(text + at + 1, 2, hh) || !digits(text + at + 3, 2, mm) || mm > 59)
            return false;
        mindiff = (hh * 60 + mm) * (text[at] == '-' ? -1 : 1);
        at += 5;
    }
    if (at != length)
        return false;
    value.year = f[0];
    value.month = f[1];
    value.day = f[2];
    value.hour = f[3];
    value.minute = f[4];
    value.second = f[5];
    value.millisec = millisec;
    value.utc = utc;
    value.mindiff = mindiff;
    return true;
}

}  // namespace ASN1
