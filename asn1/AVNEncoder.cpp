#include "asn1/AVNEncoder.h"

#include "asn1/ASN1.h"
#include "asn1/StreamFailure.h"

#include <cwchar>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>

namespace ASN1 {

namespace {

bool isControl(unsigned c) { return c < 0x20 || c == 0x7F; }

void putQuotedRun(std::ostream& os, const char* data, size_t n)
{
    os.put('"');
    for (size_t i = 0; i < n; ++i) {
        if (data[i] == '"')
            os.put('"');
        os.put(data[i]);
    }
    os.put('"');
}

// The wide characters in the current locale's multibyte form; false when a character has
// none. The buffer is sized by a first conversion pass, so nothing is cut or overrun.
bool toMultibyte(const std::wstring& text, std::string& out)
{
    std::mbstate_t state{};
    const wchar_t* src = text.c_str();
    size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
    if (n == static_cast<size_t>(-1))
        return false;
    std::unique_ptr<char[]> buf(new char[n + 1]);
    state = std::mbstate_t{};
    src = text.c_str();
    if (std::wcsrtombs(buf.get(), &src, n + 1, &state) != n)
        return false;
    out.assign(buf.get(), n);
    return true;
}

}  // namespace

void put_string(std::ostream& os, const char* data, size_t n)
{
    size_t i = 0;
    while (i < n && !isControl(static_cast<unsigned char>(data[i])))
        ++i;
    if (i == n) {
        putQuotedRun(os, data, n);
        return;
    }
    os.put('{');
    bool first = true;
    for (i = 0; i < n;) {
        if (!first)
            os << ", ";
        first = false;
        unsigned c = static_cast<unsigned char>(data[i]);
        if (isControl(c)) {
            os << '{' << c / 16 << ", " << c % 16 << '}';
            ++i;
            continue;
        }
        size_t run = i;
        while (run < n && !isControl(static_cast<unsigned char>(data[run])))
            ++run;
        putQuotedRun(os, data + i, run - i);
        i = run;
    }
    os.put('}');
}

bool AVNEncoder::good() const { return !os_->fail(); }

void AVNEncoder::blanks(int n)
{
    for (int i = 0; i < n; ++i)
        os_->put(' ');
}

void AVNEncoder::octets(const char* data, size_t n)
{
    static const char hex[] = "0123456789abcdef";
    os_->put('\'');
    for (size_t i = 0; i < n; ++i) {
        if (i)
            os_->put(' ');
        unsigned char b = static_cast<unsigned char>(data[i]);
        os_->put(hex[b >> 4]);
        os_->put(hex[b & 15]);
    }
    *os_ << "'H";
}

bool AVNEncoder::do_visit(const Null&)
{
    *os_ << "NULL";
    return good();
}

bool AVNEncoder::do_visit(const BOOLEAN& v)
{
    *os_ << (v.getValue() ? "TRUE" : "FALSE");
    return good();
}

bool AVNEncoder::do_visit(const INTEGER& v)
{
    const ConstrainedInfo& r = *v.info();
    if (r.constraint != Unconstrained && r.lowerLimit >= 0)
        *os_ << static_cast<unsigned>(v.getValue());
    else
        *os_ << v.getNumber();
    return good();
}

bool AVNEncoder::do_visit(const IntegerWithNamedNumber& v)
{
    std::string name;
    if (!v.getName(name))
        return do_visit(static_cast<const INTEGER&>(v));
    *os_ << name;
    return good();
}

bool AVNEncoder::do_visit(const ENUMERATED& v)
{
    std::string_view name = v.getName();
    if (name.data())
        os_->write(name.data(), static_cast<std::streamsize>(name.size()));
    else
        *os_ << v.getValue();
    return good();
}

bool AVNEncoder::do_visit(const OBJECT_IDENTIFIER& v)
{
    *os_ << "{ ";
    for (unsigned arc : v.arcs())
        *os_ << arc << ' ';
    *os_ << '}';
    return good();
}

bool AVNEncoder::do_visit(const BIT_STRING& v)
{
    os_->put('\'');
    for (unsigned i = 0; i < v.size(); ++i)
        os_->put(v[i] ? '1' : '0');
    *os_ << "'B";
    return good();
}

bool AVNEncoder::do_visit(const OCTET_STRING& v)
{
    octets(v.data(), v.size());
    return good();
}

bool AVNEncoder::do_visit(const AbstractString& v)
{
    put_string(*os_, v.data(), v.size());
    return good();
}

bool AVNEncoder::do_visit(const BMPString& v)
{
    bool plain = true;
    for (wchar_t c : v)
        if (isControl(static_cast<unsigned>(c)))
            plain = false;
    std::string text;
    if (plain && toMultibyte(v, text)) {
        put_string(*os_, text.data(), text.size());
        return good();
    }
    // No multibyte form: the characters as {group, plane, row, cell} quadruples.
    os_->put('{');
    for (size_t i = 0; i < v.size(); ++i) {
        if (i)
            *os_ << ", ";
        unsigned c = static_cast<unsigned>(v[i]);
        *os_ << "{ 0, 0, " << (c >> 8) << ", " << (c & 0xFF) << '}';
    }
    os_->put('}');
    return good();
}

bool AVNEncoder::do_visit(const CHOICE& v)
{
    const ChoiceInfo& r = *v.info();
    int id = v.getID();
    if (id < 0 || static_cast<unsigned>(id) >= r.totalChoices || !v.getSelection())
        return false;
    const char* name = r.selectionNames ? r.selectionNames[id] : nullptr;
    *os_ << (name ? name : "?") << " : ";
    return v.getSelection()->accept(*this) && good();
}

bool AVNEncoder::do_visit(const OpenData& v)
{
    if (v.has_data())
        return v.get_data()->accept(*this) && good();
    if (!v.has_buf())
        return false;
    octets(v.get_buf()->data(), v.get_buf()->size());
    return good();
}

bool AVNEncoder::do_visit(const GeneralizedTime& v)
{
    *os_ << '"' << v.get() << '"';
    return good();
}

bool AVNEncoder::do_visit(const SEQUENCE_OF_Base& v)
{
    *os_ << "{\n";
    indent_ += 2;
    bool first = true;
    for (const AbstractData* e : v) {
        if (!first)
            *os_ << ",\n";
        first = false;
        blanks(indent_);
        if (!e->accept(*this)) {
            indent_ -= 2;
            return false;
        }
    }
    indent_ -= 2;
    if (!first)
        os_->put('\n');
    blanks(indent_);
    os_->put('}');
    return good();
}

bool AVNEncoder::preVisitExtensionRoots(const SEQUENCE&)
{
    written_.push_back(false);
    *os_ << "{\n";
    return good();
}

bool AVNEncoder::visitExtensionRoot(const SEQUENCE& seq, int index)
{
    const AbstractData* field = seq.getField(static_cast<unsigned>(index));
    if (!field)
        return false;
    if (written_.back())
        *os_ << ",\n";
    blanks(indent_ + 2);
    const char* const* names = seq.info()->fieldNames;
    const char* name = names ? names[index] : nullptr;
    *os_ << (name ? name : "?") << ' ';
    indent_ += 2;
    bool ok = field->accept(*this);
    indent_ -= 2;
    written_.back() = true;
    return ok && good();
}

bool AVNEncoder::visitKnownExtension(const SEQUENCE& seq, int index)
{
    return visitExtensionRoot(seq, index);
}

bool AVNEncoder::afterVisitSequence(const SEQUENCE&)
{
    if (written_.back())
        os_->put('\n');
    written_.pop_back();
    blanks(indent_);
    os_->put('}');
    return good();
}

int AbstractData::print_on(std::ostream& os) const
{
    AVNEncoder encoder(os, 0);
    return accept(encoder) ? 0 : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const
{
    std::ostringstream os;
    print_on(os);
    return os.str();
}

std::ostream& operator<<(std::ostream& os, const AbstractData& value)
{
    if (!os.good())
        return os;
    std::ostream::sentry sentry(os);
    if (!sentry)
        return os;
    int state = 0;
    try {
        state = value.print_on(os);
    } catch (const std::bad_alloc&) {
        failStream(os, std::ios_base::badbit);
        return os;
    } catch (...) {
        failStream(os, std::ios_base::failbit);
        return os;
    }
    if (state)
        os.setstate(static_cast<std::ios_base::iostate>(state));
    return os;
}

namespace detail {

bool encodeAVN(const AbstractData& value, std::vector<char>& out)
{
    std::ostringstream os;
    AVNEncoder encoder(os, 0);
    if (!value.accept(encoder))
        return false;
    std::string text = os.str();
    out.assign(text.begin(), text.end());
    return true;
}

}  // namespace detail

}  // namespace ASN1
