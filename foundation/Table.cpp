#include "foundation/Table.h"

#include "foundation/Measure.h"

namespace ext {

void Table::row(std::ostream& os, const std::string& text) {
  if (column_ >= widths_.size()) return;
  row_open_ = true;
  const std::size_t w = widths_[column_] > 0 ? static_cast<std::size_t>(widths_[column_]) : 0;
  const std::size_t n = text.size() < w ? text.size() : w;
  os << '|' << std::string((w - n) / 2, ' ') << text.substr(0, n)
     << std::string((w - n + 1) / 2, ' ');
  if (++column_ == widths_.size()) {
    os << '|' << std::endl;
    row_open_ = false;
  }
}

void Table::finalize(std::ostream& os) {
  while (row_open_ && column_ < widths_.size()) row(os, " ");
}

void Table::delimeter(std::ostream& os) {
  finalize(os);
  if (widths_.empty()) return;
  for (int w : widths_) os << '+' << std::string(w > 0 ? w : 0, '-');
  os << '+' << std::endl;
}

void Table::gap(std::ostream& os) {
  finalize(os);
  for (int w : widths_) os << '|' << std::string(w > 0 ? w : 0, ' ');
  os << '|' << std::endl;
}

void Table::Sentry::row() const {
  table_->row(*os_, cell_.str());
  cell_.str(std::string());
}

const Table::Sentry& beginrow(const Table::Sentry& s) {
  s.table().resetrow();
  return s;
}

const Table::Sentry& nextrow(const Table::Sentry& s) {
  s.row();
  return s;
}

const Table::Sentry& delimeter(const Table::Sentry& s) {
  s.table().delimeter(s.stream());
  return s;
}

const Table::Sentry& operator<<(const Table::Sentry& s, const char* text) {
  s.cell() << text;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, const std::string& text) {
  s.cell() << text;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, unsigned v) {
  s.cell() << v;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, int v) {
  s.cell() << v;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, unsigned long v) {
  s.cell() << v;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, long v) {
  s.cell() << v;
  return s;
}
const Table::Sentry& operator<<(const Table::Sentry& s, const Measure& m) {
  m.put(s.cell());
  return s;
}

}  // namespace ext
