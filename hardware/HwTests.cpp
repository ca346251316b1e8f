#include "hardware/HwTests.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "foundation/Hex.h"
#include "hardware/HwMux.h"

namespace {

constexpr int kTimeslotsPerBus = 128;

// The pattern of a seed: the low bytes of the C library's random() sequence after
// srandom(seed), which a board that wrote the bytes also followed. The generator state is the
// test's own, so that a seed given here fixes nothing else the process draws.
class Pattern {
 public:
  explicit Pattern(unsigned seed) { initstate_r(seed, state_, sizeof state_, &data_); }
  unsigned char next() {
    int32_t value = 0;
    random_r(&data_, &value);
    return static_cast<unsigned char>(value & 0xFF);
  }

 private:
  // The default state size of srandom(), which selects the same generator.
  char state_[128] = {};
  random_data data_{};
};

// A byte as the log writes bytes: two hexadecimal digits (and the separating space).
ext::OutBufInHex Hex(const unsigned char& byte) { return ext::OutBufInHex(&byte, 1); }

}  // namespace

HwTests* HwTests::instance() {
  static HwTests service;
  return &service;
}

void HwTests::PutHeader(std::ostream& os) const { os << "bus " << bus_ << ": "; }

bool HwTests::OnCommand(LGCP::Command const& command) {
  if (!command.is_testBpc()) return false;
  OnTestBpc(command.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(LGCP::BpcTestParams const& params) {
  bus_ = static_cast<int>(params.get_bus().getValue());
  first_ = HwMux::kFirstOutput + bus_ * kTimeslotsPerBus + static_cast<int>(params.get_timeslot_start().getValue());
  end_ = first_ + static_cast<int>(params.get_timeslot_length().getValue());
  seed_ = static_cast<unsigned>(params.get_seed().getValue());
  const LGCP::BpcTestMode& mode = params.get_mode();
  if (mode.is_read())
    TestRead();
  else if (mode.is_write())
    TestWrite();
  else
    TestDisconnect();
}

int HwTests::FirstMismatch(unsigned char& expected, unsigned char& actual) const {
  HwMux* mux = HwMux::instance();
  Pattern pattern(seed_);
  for (int channel = first_; channel < end_; ++channel) {
    expected = pattern.next();
    actual = mux->Read(channel);
    if (expected != actual) return channel;
  }
  return end_;
}

void HwTests::TestRead() {
  unsigned char expected = 0, actual = 0;
  const int channel = FirstMismatch(expected, actual);
  if (channel == end_) {
    Success();
    return;
  }
  std::cerr << ext::header(this) << "test failed on channel " << (channel & (kTimeslotsPerBus - 1)) << " expected "
            << Hex(expected) << " read " << Hex(actual) << std::endl;
  Error(LGCP::ErrorCause::busError);
}

void HwTests::TestWrite() {
  HwMux* mux = HwMux::instance();
  Pattern pattern(seed_);
  for (int channel = first_; channel < end_; ++channel) mux->Write(channel, pattern.next());
  // Lets the switch put the bytes on the bus before they are read back.
  ::usleep(500);
  unsigned char expected = 0, actual = 0;
  const int channel = FirstMismatch(expected, actual);
  if (channel == end_) {
    Success();
    return;
  }
  std::cerr << ext::header(this) << "write failed on channel " << (channel & (kTimeslotsPerBus - 1)) << " write "
            << Hex(expected) << " written " << Hex(actual) << std::endl;
  Error(LGCP::ErrorCause::busError);
}

void HwTests::TestDisconnect() {
  HwMux* mux = HwMux::instance();
  for (int channel = first_; channel < end_; ++channel) mux->Disable(channel);
  ::usleep(250);
  Success();
}
