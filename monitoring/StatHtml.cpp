#include "monitoring/StatHtml.h"

#include <istream>
#include <ostream>

namespace Stat::Html {

void generateV1(Stat::Object& root, std::ostream& out, std::istream& in) { GeneratorV1(root, out, in).generate(); }

GeneratorV1::GeneratorV1(Stat::Object& root, std::ostream& out, std::istream& in) : root_(root), out_(out), in_(in) {}

void GeneratorV1::generate() {
  objects_.assign(1, &root_);
  suppress_ = 0;
  input_ = &GeneratorV1::pinput_initial;
  output_ = &GeneratorV1::poutput_pass;
  capture_.clear();
  generate_body();
}

GeneratorV1::Marker GeneratorV1::parse() {
  complete_ = false;
  capture_.clear();  // the previous marker's text has been used
  for (int ch; !complete_ && (ch = in_.get()) != std::char_traits<char>::eof();) (this->*input_)(char(ch));
  if (complete_) return marker_;
  // What the template ends with is text, a marker left unfinished included.
  release_capture();
  input_ = &GeneratorV1::pinput_initial;
  return Marker{};
}

// ---- input states ----

void GeneratorV1::pinput_initial(char c) {
  if (c == '<') {
    begin_capture(c);
    input_ = &GeneratorV1::pinput_section_open;
  } else if (c == '%') {
    begin_capture(c);
    input_ = &GeneratorV1::pinput_value_open;
  } else {
    emit(c);
  }
}

void GeneratorV1::pinput_section_open(char c) { next_in_marker(c, '!', &GeneratorV1::pinput_section_comment1); }
void GeneratorV1::pinput_section_comment1(char c) { next_in_marker(c, '-', &GeneratorV1::pinput_section_comment2); }
void GeneratorV1::pinput_section_comment2(char c) { next_in_marker(c, '-', &GeneratorV1::pinput_section_obj_begin1); }
void GeneratorV1::pinput_section_obj_begin1(char c) { next_in_marker(c, 'G', &GeneratorV1::pinput_section_obj_begin2); }
void GeneratorV1::pinput_section_obj_begin2(char c) { next_in_marker(c, 'E', &GeneratorV1::pinput_section_obj_begin3); }
void GeneratorV1::pinput_section_obj_begin3(char c) { next_in_marker(c, 'N', &GeneratorV1::pinput_section_obj_begin4); }

void GeneratorV1::pinput_section_obj_begin4(char c) {
  marker_.name.clear();
  next_in_marker(c, '.', &GeneratorV1::pinput_section_obj_name);
}

void GeneratorV1::pinput_section_obj_name(char c) {
  emit(c);
  if (c == '-')
    input_ = &GeneratorV1::pinput_section_obj_name_end1;
  else
    marker_.name += c;
}

// A single '-' belongs to the name; "--" ends it.
void GeneratorV1::pinput_section_obj_name_end1(char c) {
  emit(c);
  if (c == '-') {
    input_ = &GeneratorV1::pinput_section_obj_name_end2;
  } else {
    marker_.name += '-';
    marker_.name += c;
    input_ = &GeneratorV1::pinput_section_obj_name;
  }
}

// After "--" everything up to '>' is a comment of the marker's own.
void GeneratorV1::pinput_section_obj_name_end2(char c) {
  emit(c);
  if (c == '>') complete(kSection);
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {  // "%%" is text
    release_capture();
    emit(c);
    input_ = &GeneratorV1::pinput_initial;
    return;
  }
  emit(c);
  marker_.name.assign(1, c);
  input_ = &GeneratorV1::pinput_value_body;
}

void GeneratorV1::pinput_value_body(char c) {
  emit(c);
  if (c == '%')
    complete(kValue);
  else
    marker_.name += c;
}

// The rest of an ordinary tag: copied, markers not looked for.
void GeneratorV1::pinput_delayed_initial(char c) {
  emit(c);
  if (c == '>') input_ = &GeneratorV1::pinput_initial;
}

// ---- output states ----

void GeneratorV1::poutput_pass(char c) { out_.put(c); }
void GeneratorV1::poutput_capture(char c) { capture_ += c; }
void GeneratorV1::poutput_ignore(char) {}

void GeneratorV1::begin_capture(char c) {
  capture_.clear();
  output_ = &GeneratorV1::poutput_capture;
  emit(c);
}

// The captured text turned out to be no marker: it is template text after all.
void GeneratorV1::release_capture() {
  output_ = text_output();
  for (char k : capture_) emit(k);
  capture_.clear();
}

void GeneratorV1::next_in_marker(char c, char expected, CharState next) {
  if (c != expected) return not_a_marker(c);
  emit(c);
  input_ = next;
}

// Written out with the text captured so far; the rest of the tag, up to the next '>' even when
// this character is one, is copied as it is.
void GeneratorV1::not_a_marker(char c) {
  release_capture();
  emit(c);
  input_ = &GeneratorV1::pinput_delayed_initial;
}

void GeneratorV1::complete(int kind) {
  marker_.kind = kind;
  complete_ = true;
  output_ = text_output();  // the marker's text stays in the capture buffer
  input_ = &GeneratorV1::pinput_initial;
}

// ---- expansion ----

// Runs to the end of the template or to an end marker; an end at the top level ends the page.
void GeneratorV1::generate_body() {
  for (;;) {
    const Marker m = parse();
    if (m.kind == kEndOfTemplate || (m.kind == kSection && m.name == "end")) return;
    if (m.kind == kValue)
      value(m.name);
    else
      section(m.name);
  }
}

void GeneratorV1::value(const std::string& name) {
  if (suppress_ > 0) return;
  for (auto o = objects_.rbegin(); o != objects_.rend(); ++o) {
    const Stat::Value v = (*o)->statistics_value(name);
    if (v) {
      out_ << v.text();
      return;
    }
  }
  out_ << capture_;
}

void GeneratorV1::section(const std::string& name) {
  if (static_cast<int>(objects_.size()) > kMaxDepth) return ignore_object();
  const Stat::Object* inner = objects_.back();
  if (std::unique_ptr<Stat::Iterator> it = inner->statistics_iterator(name)) {
    if (!it->valid()) return ignore_object();
    const std::streampos start = in_.tellg();
    for (;;) {
      expand(it->get());
      it->next();
      // A template that cannot be rewound gives the first element only.
      if (!it->valid() || start == std::streampos(-1)) break;
      rewind(start);
    }
    return;
  }
  expand(inner->statistics_object(name));
}

void GeneratorV1::expand(Stat::Object* object) {
  if (object == nullptr) return ignore_object();
  objects_.push_back(object);
  generate_body();
  objects_.pop_back();
}

// Reads past the section up to its matching end and writes nothing of it. Nested sections are
// counted rather than expanded: inside a skipped section no object has anything to give.
void GeneratorV1::ignore_object() {
  ++suppress_;
  output_ = text_output();
  for (int open = 1; open > 0;) {
    const Marker m = parse();
    if (m.kind == kEndOfTemplate) break;
    if (m.kind == kSection) open += m.name == "end" ? -1 : 1;
  }
  --suppress_;
  output_ = text_output();
}

void GeneratorV1::rewind(std::streampos position) {
  in_.clear();
  in_.seekg(position);
  input_ = &GeneratorV1::pinput_initial;
  capture_.clear();
  output_ = text_output();
}

}  // namespace Stat::Html
