// Writes, as PER hex lines, "create" and "display" commands in which every unconstrained INTEGER
// holds the value given on the command line (for the end-to-end test of the 32-bit limits).
// Every optional field is present, every list has one element; variant k picks alternative
// k (modulo their count) of every CHOICE and value k of every ENUMERATED, so that the variants
// of one form together reach each alternative. Each command has a slot of its own, numbered
// from the first one given. Each line: "<slot> <hex>".
//   vx_limit_forms <value> <first slot>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "asn1/ASN1.h"
#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"

namespace {

using namespace ASN1;

class Filler : public Visitor {
 public:
  Filler(int value, unsigned variant) : value_(value), variant_(variant) {}
  unsigned widest = 1;  // the most alternatives or values met: the variants needed

  bool do_visit(Null&) override { return true; }
  bool do_visit(BOOLEAN& v) override {
    v.setValue(variant_ % 2 == 1);
    return true;
  }
  bool do_visit(INTEGER& v) override {
    const ConstrainedInfo& c = *v.info();
    v.setValue(c.constraint == Unconstrained ? value_ : c.lowerLimit);
    return true;
  }
  bool do_visit(ENUMERATED& v) override {
    const auto count = static_cast<unsigned>(v.getMaximum()) + 1;
    widest = std::max(widest, count);
    v.setValue(static_cast<int>(variant_ % count));
    return true;
  }
  bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
  bool do_visit(OCTET_STRING& v) override {
    v = std::string(Size(*v.info(), 4), '\x01');
    return true;
  }
  bool do_visit(BIT_STRING& v) override {
    v.resize(Size(*v.info(), 8));
    return true;
  }
  bool do_visit(AbstractString& v) override {
    // An address where one is read; digits and dots pass every character set here.
    const unsigned n = Size(v.info()->size, 9);
    v = n >= 9 ? std::string("127.0.0.1") : std::string(n, '1');
    return true;
  }
  bool do_visit(BMPString&) override { return true; }
  bool do_visit(CHOICE& v) override {
    const unsigned count = v.info()->totalChoices;
    if (count == 0) return false;
    widest = std::max(widest, count);
    v.setID(static_cast<int>(variant_ % count));
    return v.createSelection() && v.getSelection()->accept(*this);
  }
  bool do_visit(SEQUENCE_OF_Base& v) override {
    v.resize(std::max(1u, Size(v.info()->size, 1)));
    for (AbstractData* e : v)
      if (!e || !e->accept(*this)) return false;
    return true;
  }
  bool do_visit(OpenData&) override { return true; }
  bool do_revisit(OpenData&) override { return true; }
  bool do_visit(TypeConstrainedOpenData&) override { return true; }
  bool do_visit(GeneralizedTime&) override { return true; }
  bool visit(SEQUENCE& s) override {
    const SequenceInfo& info = *s.info();
    for (unsigned i = 0; i < info.numFields; ++i) {
      if (info.fieldIds[i] >= 0) s.includeOptionalField(static_cast<unsigned>(info.fieldIds[i]), i);
      if (!s.fieldAt(i).accept(*this)) return false;
    }
    for (unsigned k = 0; k < info.knownExtensions; ++k) {
      s.includeOptionalField(info.numOptional + k, info.numFields + k);
      if (!s.fieldAt(info.numFields + k).accept(*this)) return false;
    }
    return true;
  }

 private:
  // A size the constraint admits, near the one wanted.
  static unsigned Size(ConstrainedInfo const& c, unsigned wanted) {
    if (c.constraint == Unconstrained) return wanted;
    const auto lo = static_cast<unsigned>(c.lowerLimit);
    return std::clamp(wanted, lo, std::max(lo, c.upperLimit));
  }

  int value_;
  unsigned variant_;
};

unsigned nextSlot = 0;

void print(LGCP::Message& m) {
  static const CoderEnv env(CoderEnv::per);
  m.set_slot(nextSlot);
  std::string bytes;
  if (!encode(m, &env, std::back_inserter(bytes))) return;  // a variant no encoder takes
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
  std::cout << nextSlot++ << ' ' << hex << '\n';
}

// Every variant of every alternative of the command `select` picks (create or display).
template <class Select>
void forms(int value, unsigned alternatives, Select select) {
  for (unsigned a = 0; a < alternatives; ++a) {
    for (unsigned k = 0, widest = 1; k < widest; ++k) {
      Filler fill(value, k);
      LGCP::Message m;
      m.set_seq(static_cast<int>(a * 1000 + k));
      CHOICE& params = select(m.get_pdu().select_command());
      params.setID(static_cast<int>(a));
      if (params.createSelection() && params.getSelection()->accept(fill)) print(m);
      widest = fill.widest;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: vx_limit_forms <value> <first slot>" << std::endl;
    return 2;
  }
  const int value = static_cast<int>(std::strtol(argv[1], nullptr, 10));
  nextSlot = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  forms(value, LGCP::CreateParams::theInfo.totalChoices,
        [](LGCP::Command& c) -> CHOICE& { return c.select_create(); });
  forms(value, LGCP::DisplayParams::theInfo.totalChoices,
        [](LGCP::Command& c) -> CHOICE& { return c.select_display(); });
  return 0;
}
