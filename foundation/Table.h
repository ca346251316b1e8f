#pragma once
// Fixed-width text tables with centred cells, for the diagnostic dumps.
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

struct Measure;

namespace ext {

class Table {
 public:
  Table() = default;
  explicit Table(int w1) { add(w1); }
  Table(int w1, int w2) : Table(w1) { add(w2); }
  Table(int w1, int w2, int w3) : Table(w1, w2) { add(w3); }
  Table(int w1, int w2, int w3, int w4) : Table(w1, w2, w3) { add(w4); }
  Table(int w1, int w2, int w3, int w4, int w5) : Table(w1, w2, w3, w4) { add(w5); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6) : Table(w1, w2, w3, w4, w5) { add(w6); }
  Table(int w1, int w2, int w3, int w4, int w5, int w6, int w7) : Table(w1, w2, w3, w4, w5, w6) {
    add(w7);
  }

  void add(int width) { widths_.push_back(width); }
  void init() { resetrow(); }
  void resetrow() {
    column_ = 0;
    row_open_ = false;
  }
  // Writes one cell (cut to the column's width, centred).
  void row(std::ostream& os, const std::string& text);
  // Completes an open row with single-space cells.
  void finalize(std::ostream& os);
  // Completes an open row, then writes a border line.
  void delimeter(std::ostream& os);
  // Completes an open row, then writes an empty row.
  void gap(std::ostream& os);

  // Collects the text of one cell at a time; completes the open row when it ends.
  class Sentry {
   public:
    Sentry(std::ostream& os, Table& table) : os_(&os), table_(&table) {}
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;
    ~Sentry() { table_->finalize(*os_); }

    // Passes the collected cell to the table and starts the next one.
    void row() const;
    std::ostream& cell() const { return cell_; }
    std::ostream& stream() const { return *os_; }
    Table& table() const { return *table_; }

   private:
    std::ostream* os_;
    Table* table_;
    mutable std::ostringstream cell_;
  };

 private:
  std::vector<int> widths_;
  unsigned column_ = 0;
  bool row_open_ = false;
};

const Table::Sentry& beginrow(const Table::Sentry& s);
const Table::Sentry& nextrow(const Table::Sentry& s);
const Table::Sentry& delimeter(const Table::Sentry& s);

inline const Table::Sentry& operator<<(const Table::Sentry& s,
                                       const Table::Sentry& (*manip)(const Table::Sentry&)) {
  return manip(s);
}
const Table::Sentry& operator<<(const Table::Sentry& s, const char* text);
const Table::Sentry& operator<<(const Table::Sentry& s, const std::string& text);
const Table::Sentry& operator<<(const Table::Sentry& s, unsigned v);
const Table::Sentry& operator<<(const Table::Sentry& s, int v);
const Table::Sentry& operator<<(const Table::Sentry& s, unsigned long v);
const Table::Sentry& operator<<(const Table::Sentry& s, long v);
const Table::Sentry& operator<<(const Table::Sentry& s, const Measure& m);

}  // namespace ext
