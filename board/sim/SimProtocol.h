#pragma once
// The simulated board's test API as text: one command line in, one reply out ("ok ..." or
// "error ..."; a listing replies "ok <n>" and n lines). Lines come from a local socket and
// are untrusted: anything malformed is answered with an error and changes nothing.
#include <string>
#include <string_view>

namespace board::sim {

class SimBoard;

class SimProtocol {
 public:
  // Longest line accepted, and most lines one listing returns.
  static constexpr size_t kMaxLine = 16384;
  static constexpr size_t kMaxListing = 4096;

  explicit SimProtocol(SimBoard& board) : board_(board) {}

  // Executes one line (without its newline); returns the reply, every line ending in "\n".
  std::string execute(std::string_view line);

  // Takes bytes as they arrive, executes every complete line and returns the replies. A line
  // longer than kMaxLine is answered with one error and skipped up to its newline.
  std::string feed(std::string_view bytes);

 private:
  SimBoard& board_;
  std::string pending_;     // the incomplete last line
  bool discarding_ = false;  // inside an over-long line
};

}  // namespace board::sim
