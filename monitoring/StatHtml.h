#pragma once
// Statistics pages: an HTML template copied from a stream with its markers replaced by values
// and repeated sections taken from a tree of statistics objects.
//
// Template syntax: "%name%" is replaced by the value of that name ("%%" is no marker);
// "<!--GEN.name-->" opens a section that runs to the matching "<!--GEN.end-->" and is
// expanded once for each element of the list of that name, or once for the child object of
// that name, or not at all; an end with no section open ends the page. Markers are not
// recognised inside other HTML tags: after a '<' that starts no marker, text is copied as it is
// up to the next '>'.
#include <iosfwd>
#include <string>
#include <vector>

#include "monitoring/StatObject.h"

namespace Stat::Html {

// Expands the whole template `in` into `out`, with `root` as the only current object.
void generateV1(Stat::Object& root, std::ostream& out, std::istream& in);

class GeneratorV1 {
 public:
  // Sections nest no deeper than this; a section deeper down is left out, so that an object
  // tree that contains itself cannot recurse without end.
  static constexpr int kMaxDepth = 64;

  enum Kind { kSection = 0, kValue = 1, kEndOfTemplate = 2 };
  struct Marker {
    int kind = kEndOfTemplate;
    std::string name;
  };

  GeneratorV1(Stat::Object& root, std::ostream& out, std::istream& in);
  void generate();
  // Copies template text until a marker is complete and returns it; {2, ""} at the end.
  Marker parse();

 private:
  typedef void (GeneratorV1::*CharState)(char c);

  // Input states: where the reader stands in the template's syntax.
  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);
  // Output states: where a character of template text goes.
  void poutput_pass(char c);
  void poutput_capture(char c);
  void poutput_ignore(char c);

  void emit(char c) { (this->*output_)(c); }
  CharState text_output() const { return suppress_ > 0 ? &GeneratorV1::poutput_ignore : &GeneratorV1::poutput_pass; }
  void begin_capture(char c);
  void release_capture();
  void next_in_marker(char c, char expected, CharState next);
  void not_a_marker(char c);
  void complete(int kind);

  void generate_body();
  void value(const std::string& name);
  void section(const std::string& name);
  void expand(Stat::Object* object);
  void ignore_object();
  void rewind(std::streampos position);

  Stat::Object& root_;
  std::ostream& out_;
  std::istream& in_;
  std::vector<Stat::Object*> objects_;  // innermost last
  CharState input_ = &GeneratorV1::pinput_initial;
  CharState output_ = &GeneratorV1::poutput_pass;
  Marker marker_;
  bool complete_ = false;
  std::string capture_;  // a marker's raw text while it is being recognised
  int suppress_ = 0;     // above 0 while a skipped section is read
};

}  // namespace Stat::Html
