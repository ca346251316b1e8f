#include "asn1/AVNDecoder.h"

#include "asn1/ASN1.h"
#include "asn1/GeneralizedTimeText.h"
#include "asn1/StreamFailure.h"

#include <cwchar>
#include <functional>
#include <istream>
#include <memory>
#include <new>
#include <sstream>

namespace ASN1 {

namespace {

constexpr size_t MaxWord = 256;
constexpr unsigned MaxArcs = 128;
constexpr size_t MaxTimeText = 32;
// Deepest nesting of SEQUENCE, SEQUENCE OF and CHOICE values: a recursive type must not
// exhaust the stack.
constexpr unsigned MaxDepth = 64;

// Counts one nesting level for the life of a visit.
class Nesting {
public:
    explicit Nesting(unsigned& depth) : depth_(depth) { ++depth_; }
    ~Nesting() { --depth_; }
    bool tooDeep() const { return depth_ > MaxDepth; }

private:
    unsigned& depth_;
};

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

int peekToken(std::istream& is)
{
    while (isBlank(is.peek()))
        is.get();
    return is.peek();
}

// The characters of a quoted text after its opening quote, appended to text.
bool readQuoted(std::istream& is, std::string& text, size_t max)
{
    for (;;) {
        int c = is.get();
        if (c == std::char_traits<char>::eof())
            return false;
        if (c == '"') {
            if (is.peek() != '"')
                return true;
            is.get();
        }
        if (text.size() >= max)
            return false;
        text.push_back(static_cast<char>(c));
    }
}

// A quoted text, or a character string list of quoted texts, {column, row} tuples and
// {group, plane, row, cell} quadruples; each piece goes to onText or onCode.
bool readStringPieces(std::istream& is, const std::function<bool(const std::string&)>& onText,
                      const std::function<bool(uint32_t)>& onCode)
{
    int c = peekToken(is);
    if (c == '"') {
        is.get();
        std::string text;
        return readQuoted(is, text, MaximumStringSize) && onText(text);
    }
    if (!get_token(is, '{'))
        return false;
    if (get_token(is, '}'))
        return true;
    for (;;) {
        if (peekToken(is) == '"') {
            is.get();
            std::string text;
            if (!readQuoted(is, text, MaximumStringSize) || !onText(text))
                return false;
        } else {
            if (!get_token(is, '{'))
                return false;
            int64_t n[4];
            unsigned count = 0;
            do {
                if (count == 4 || !get_number(is, 0, 255, n[count]))
                    return false;
                ++count;
            } while (get_token(is, ','));
            if (!get_token(is, '}'))
                return false;
            uint32_t code;
            if (count == 2 && n[0] <= 7 && n[1] <= 15)
                code = static_cast<uint32_t>(n[0] * 16 + n[1]);
            else if (count == 4 && n[0] == 0 && n[1] == 0)
                code = static_cast<uint32_t>(n[2] * 256 + n[3]);
            else
                return false;
            if (!onCode(code))
                return false;
        }
        if (get_token(is, '}'))
            return true;
        if (!get_token(is, ','))
            return false;
    }
}

bool toWide(const std::string& text, std::wstring& out)
{
    std::mbstate_t state{};
    size_t i = 0;
    while (i < text.size()) {
        wchar_t w;
        size_t n = std::mbrtowc(&w, text.data() + i, text.size() - i, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2))
            return false;
        if (n == 0)  // an embedded NUL
            n = 1;
        out.push_back(w);
        i += n;
    }
    return true;
}

}  // namespace

bool get_token(std::istream& is, char c)
{
    if (peekToken(is) != static_cast<unsigned char>(c))
        return false;
    is.get();
    return true;
}

bool get_word(std::istream& is, std::string& word)
{
    word.clear();
    if (!isLetter(peekToken(is)))
        return false;
    for (int c = is.peek(); isLetter(c) || isDigit(c) || c == '-' || c == '_'; c = is.peek()) {
        if (word.size() >= MaxWord)
            return false;
        word.push_back(static_cast<char>(is.get()));
    }
    return true;
}

bool get_number(std::istream& is, int64_t min, int64_t max, int64_t& value)
{
    bool negative = peekToken(is) == '-';
    if (negative)
        is.get();
    if (!isDigit(is.peek()))
        return false;
    int64_t n = 0;
    while (isDigit(is.peek())) {
        n = n * 10 + (is.get() - '0');
        if (n > (int64_t(1) << 33))  // beyond every range read here
            return false;
    }
    if (negative)
        n = -n;
    if (n < min || n > max)
        return false;
    value = n;
    return true;
}

bool get_string(std::istream& is, std::string& text)
{
    text.clear();
    return readStringPieces(
        is,
        [&](const std::string& piece) {
            if (text.size() + piece.size() > MaximumStringSize)
                return false;
            text += piece;
            return true;
        },
        [&](uint32_t code) {
            if (code > 0xFF || text.size() >= MaximumStringSize)
                return false;
            text.push_back(static_cast<char>(code));
            return true;
        });
}

bool get_from_string(const std::string& digits, std::vector<char>& bytes, unsigned& size, int radix)
{
    std::string d;
    for (char c : digits)
        if (!isBlank(static_cast<unsigned char>(c)))
            d.push_back(c);
    unsigned perDigit = radix == 2 ? 1 : 4;
    unsigned group = radix == 2 ? 8 : 2;
    size = static_cast<unsigned>(d.size()) * perDigit;
    while (d.size() % group)
        d.push_back('0');
    bytes.clear();
    for (size_t i = 0; i < d.size(); i += group) {
        unsigned octet = 0;
        for (size_t k = 0; k < group; ++k) {
            char c = d[i + k];
            unsigned v;
            if (c >= '0' && c <= '9')
                v = static_cast<unsigned>(c - '0');
            else if (radix == 16 && c >= 'a' && c <= 'f')
                v = static_cast<unsigned>(c - 'a' + 10);
            else if (radix == 16 && c >= 'A' && c <= 'F')
                v = static_cast<unsigned>(c - 'A' + 10);
            else
                return false;
            if (v >= static_cast<unsigned>(radix))
                return false;
            octet = octet * static_cast<unsigned>(radix) + v;
        }
        bytes.push_back(static_cast<char>(octet));
    }
    return true;
}

bool get_value_from(std::istream& is, std::vector<char>& bytes, unsigned& size)
{
    if (!get_token(is, '\''))
        return false;
    std::string digits;
    const size_t max = size_t(MaximumStringSize) * 16;
    for (int c = is.get(); c != '\''; c = is.get()) {
        if (c == std::char_traits<char>::eof() || digits.size() >= max)
            return false;
        digits.push_back(static_cast<char>(c));
    }
    int kind = is.get();
    if (kind == 'B')
        return get_from_string(digits, bytes, size, 2);
    if (kind == 'H')
        return get_from_string(digits, bytes, size, 16);
    return false;
}

bool get_id(const char* const* names, unsigned count, const std::string& name, unsigned& index)
{
    if (!names)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        if (names[i] && name == names[i]) {
            index = i;
            return true;
        }
    }
    return false;
}

AVNDecoder::AVNDecoder(std::istream& is) : is_(&is), depth_(0) {}

bool AVNDecoder::do_visit(Null&)
{
    std::string w;
    return get_word(*is_, w) && w == "NULL";
}

bool AVNDecoder::do_visit(BOOLEAN& v)
{
    std::string w;
    if (!get_word(*is_, w))
        return false;
    if (w == "TRUE")
        v.setValue(true);
    else if (w == "FALSE")
        v.setValue(false);
    else
        return false;
    return true;
}

bool AVNDecoder::do_visit(INTEGER& v)
{
    const ConstrainedInfo& r = *v.info();
    bool isUnsigned = r.constraint != Unconstrained && r.lowerLimit >= 0;
    int64_t n;
    if (!get_number(*is_, isUnsigned ? 0 : INT32_MIN, isUnsigned ? UINT32_MAX : INT32_MAX, n))
        return false;
    v.setValue(static_cast<int>(static_cast<uint32_t>(n)));
    return true;
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v)
{
    int c = peekToken(*is_);
    if (isDigit(c) || c == '-')
        return do_visit(static_cast<INTEGER&>(v));
    std::string w;
    return get_word(*is_, w) && v.setFromName(w);
}

// A name, or the number the writer shows for a value without a name.
bool AVNDecoder::do_visit(ENUMERATED& v)
{
    int c = peekToken(*is_);
    if (isDigit(c) || c == '-') {
        int64_t n;
        if (!get_number(*is_, INT32_MIN, INT32_MAX, n))
            return false;
        v.setValue(static_cast<int>(n));
        return true;
    }
    std::string w;
    return get_word(*is_, w) && v.setFromName(w);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v)
{
    if (!get_token(*is_, '{'))
        return false;
    std::vector<unsigned> arcs;
    while (!get_token(*is_, '}')) {
        if (arcs.size() >= MaxArcs)
            return false;
        int64_t n;
        if (isLetter(peekToken(*is_))) {  // name(number)
            std::string w;
            if (!get_word(*is_, w) || !get_token(*is_, '(') || !get_number(*is_, 0, UINT32_MAX, n) ||
                !get_token(*is_, ')'))
                return false;
        } else if (!get_number(*is_, 0, UINT32_MAX, n)) {
            return false;
        }
        arcs.push_back(static_cast<unsigned>(n));
    }
    v.arcs() = std::move(arcs);
    return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v)
{
    std::vector<char> bytes;
    unsigned bits;
    if (!get_value_from(*is_, bytes, bits) || bytes.size() > MaximumStringSize)
        return false;
    v.assign(bytes.begin(), bytes.end());
    return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v)
{
    std::vector<char> bytes;
    unsigned bits;
    if (!get_value_from(*is_, bytes, bits) || bits > MaximumStringSize)
        return false;
    v.getData() = std::move(bytes);
    v.resize(bits);
    return true;
}

bool AVNDecoder::do_visit(AbstractString& v)
{
    std::string text;
    if (!get_string(*is_, text))
        return false;
    v.assign(text);
    return true;
}

bool AVNDecoder::do_visit(BMPString& v)
{
    std::wstring text;
    bool ok = readStringPieces(
        *is_,
        [&](const std::string& piece) {
            return toWide(piece, text) && text.size() <= MaximumStringSize;
        },
        [&](uint32_t code) {
            if (code > 0xFFFF || text.size() >= MaximumStringSize)
                return false;
            text.push_back(static_cast<wchar_t>(code));
            return true;
        });
    if (!ok)
        return false;
    v.assign(text);
    return true;
}

bool AVNDecoder::do_visit(CHOICE& v)
{
    Nesting level(depth_);
    if (level.tooDeep())
        return false;
    const ChoiceInfo& r = *v.info();
    std::string name;
    unsigned index;
    if (!get_word(*is_, name) || !get_token(*is_, ':') || !get_id(r.selectionNames, r.totalChoices, name, index))
        return false;
    if (v.getID() != static_cast<int>(index) || !v.getSelection()) {
        AbstractData* value = budget_.create(r.selectionInfos[index]);
        v.setSelection(value ? static_cast<int>(index) : int(CHOICE::unknownSelection_), value);
        if (!value)
            return false;
    }
    return v.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v)
{
    Nesting level(depth_);
    if (level.tooDeep() || !get_token(*is_, '{'))
        return false;
    v.clear();
    if (get_token(*is_, '}'))
        return true;
    for (;;) {
        if (v.size() >= MaximumArraySize)
            return false;
        AbstractData* e = budget_.create(v.info()->elementInfo);
        if (!e)
            return false;
        v.push_back_owned(e);
        if (!e->accept(*this))
            return false;
        if (get_token(*is_, '}'))
            return true;
        if (!get_token(*is_, ','))
            return false;
    }
}

// An open type's text does not say what it carries.
bool AVNDecoder::do_visit(OpenData&) { return false; }
bool AVNDecoder::do_revisit(OpenData&) { return false; }

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v)
{
    return v.has_data() && v.get_data()->accept(*this);
}

bool AVNDecoder::do_visit(GeneralizedTime& v)
{
    if (!get_token(*is_, '"'))
        return false;
    std::string text;
    return readQuoted(*is_, text, MaxTimeText) && parseGeneralizedTime(text.data(), text.size(), v);
}

bool AVNDecoder::readNextName()
{
    std::string& name = names_.back();
    if (get_token(*is_, '}')) {
        name = "}";
        return true;
    }
    if (!get_token(*is_, ','))
        return false;
    if (get_token(*is_, '}')) {  // a trailing comma
        name = "}";
        return true;
    }
    return get_word(*is_, name);
}

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& seq)
{
    if (names_.size() + depth_ >= MaxDepth || !get_token(*is_, '{'))
        return Fail;
    seq.optionalMap().resize(0);
    seq.optionalMap().resize(seq.info()->numOptional);
    seq.extensionMap().resize(0);
    names_.emplace_back();
    if (get_token(*is_, '}')) {
        names_.back() = "}";
        return Continue;
    }
    return get_word(*is_, names_.back()) ? Continue : Fail;
}

int AVNDecoder::readField(SEQUENCE& seq, int index, int optionalId)
{
    const SequenceInfo& r = *seq.info();
    const char* expected = r.fieldNames ? r.fieldNames[index] : nullptr;
    bool optional = optionalId != -1;
    if (!expected || names_.back() != expected)
        return optional ? Continue : Fail;
    unsigned i = static_cast<unsigned>(index);
    AbstractData* field = seq.getField(i);
    if (!field) {
        field = budget_.create(r.fieldInfos[i]);
        if (!field)
            return Fail;
        seq.setField(i, field);
    }
    if (optional)
        seq.includeOptionalField(static_cast<unsigned>(optionalId), i);
    if (!field->accept(*this))
        return Fail;
    return readNextName() ? Continue : Fail;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId)
{
    return readField(seq, index, optionalId);
}

int AVNDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId)
{
    return readField(seq, index, optionalId);
}

bool AVNDecoder::visitUnknownExtensions(SEQUENCE&)
{
    if (names_.empty())
        return false;
    bool ended = names_.back() == "}";
    names_.pop_back();
    return ended;
}

int AbstractData::get_from(std::istream& is)
{
    AVNDecoder decoder(is);
    return accept(decoder) ? 0 : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(const std::string& text)
{
    std::istringstream is(text);
    return get_from(is) == 0;
}

std::istream& operator>>(std::istream& is, AbstractData& value)
{
    if (!is.good())
        return is;
    std::istream::sentry sentry(is);
    if (!sentry)
        return is;
    int state = 0;
    try {
        state = value.get_from(is);
    } catch (const std::bad_alloc&) {
        failStream(is, std::ios_base::badbit);
        return is;
    } catch (...) {
        failStream(is, std::ios_base::failbit);
        return is;
    }
    if (state)
        is.setstate(static_cast<std::ios_base::iostate>(state));
    return is;
}

namespace detail {

bool decodeAVN(const char* first, const char* last, AbstractData& value)
{
    std::istringstream is(std::string(first, first && last > first ? size_t(last - first) : 0));
    AVNDecoder decoder(is);
    return value.accept(decoder);
}

}  // namespace detail

}  // namespace ASN1
