#pragma once
// Shared pieces of the driver-device tests: the simulated board with an empty request log,
// the fake clock, the event loop driven pass by pass, and the log and error streams captured.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "board/sim/SimBoard.h"
#include "foundation/IniFile.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Traces.h"
#include "tests/support/LoopTest.h"

using Bytes = std::vector<uint8_t>;
using board::sim::Device;

class HwDevTest : public vxtest::LoopTest {
 protected:
  void SetUp() override {
    // A write to a channel the board hung up raises SIGPIPE, which the daemon ignores.
    std::signal(SIGPIPE, SIG_IGN);
    sim().service();
    sim().clear_requests();
  }
  void TearDown() override {
    set_traces("");
    Mux::mux_cleartimeofday();
  }

  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

  // The trace channels as the section "traces" with these lines would set them.
  static void set_traces(const std::string& lines) {
    IniFile::File f;
    std::istringstream in("[traces]\n" + lines + "\n");
    in >> f;
    std::streambuf* old = std::cerr.rdbuf(nullptr);
    traces.Configure(f["traces"]);
    std::cerr.rdbuf(old);
  }

  static std::vector<board::sim::Request> requests(Device device, uint32_t number) {
    return sim().requests(device, number);
  }
};

// Big-endian 32-bit words, as the drivers' records carry them.
inline Bytes be32(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words)
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return b;
}

// Does the text contain the line (a whole line, without its end)?
inline bool has_line(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (l == line) return true;
  }
  return false;
}

// Expects the whole line in the captured text, showing the text when it is missing.
#define EXPECT_LINE(text, line) EXPECT_TRUE(has_line(text, line)) << (text)
