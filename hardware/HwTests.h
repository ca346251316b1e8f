#pragma once
// The bus self-test service: on "testBpc" it writes a seeded pseudo-random byte pattern to a
// run of timeslots of one TDM bus through the switch and reads it back, only reads it back
// (another party wrote it), or releases the timeslots.
#include <iosfwd>

#include "control/CtrlSrvService.h"

class HwTests : public CtrlSrv::Service {
 public:
  static HwTests* instance();

  HwTests() = default;

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const& command) override;

  // Runs one test to completion and answers it.
  void OnTestBpc(LGCP::BpcTestParams const& params);

  void PutHeader(std::ostream& os) const;

 private:
  // Each compares the run against the pattern of the seed and answers.
  void TestRead();
  void TestWrite();
  void TestDisconnect();
  // The first channel whose byte differs from the pattern, or end_ when all match.
  int FirstMismatch(unsigned char& expected, unsigned char& actual) const;

  int bus_ = 0;
  int first_ = 0;  // switch numbering
  int end_ = 0;    // exclusive
  unsigned seed_ = 0;
};
