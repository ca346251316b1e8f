// A copy whose source never runs dry into a destination that never fills takes a bounded
// share per wake-up and still copies everything, in order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "control/ASyncCopy.h"
#include "tests/control/TestSupport.h"

namespace {

using Copy = ASync::Copy;

TEST(CopyBound, AFileIntoAnAlwaysWritableDestinationIsCopiedOverManyPasses) {
  char path[] = "/tmp/vx_copy_boundXXXXXX";
  const int file = ::mkstemp(path);
  ASSERT_GE(file, 0);
  ::unlink(path);
  std::string sent;
  for (int i = 0; sent.size() < (1u << 20); ++i) sent += std::to_string(i) + ",";
  ASSERT_EQ(::write(file, sent.data(), sent.size()), ssize_t(sent.size()));
  ::lseek(file, 0, SEEK_SET);
  char out[] = "/tmp/vx_copy_outXXXXXX";
  const int sink = ::mkstemp(out);
  ASSERT_GE(sink, 0);
  ::unlink(out);

  std::vector<int> ends;
  struct End {
    std::vector<int>* ends;
    void On(Copy::Status::Type s) { ends->push_back(s); }
  } end{&ends};
  Copy copy;
  copy.Bind(&End::On, &end);
  Copy::EventsParams masks;
  masks.flush = 0;
  copy.set_events(masks);
  copy.set_bufsize(1024);
  copy.Start(Fd(::dup(file)), Fd(::dup(sink)));
  // A regular file is always readable and writable: without a bound the whole megabyte would
  // go inside Start, holding the loop.
  EXPECT_EQ(copy.status(), Copy::Status::running);
  EXPECT_LT(copy.copied(), sent.size() / 8);
  ASSERT_TRUE(vxtest::pump_until([&] { return !ends.empty(); }));
  EXPECT_EQ(ends, std::vector<int>{Copy::Status::done});
  EXPECT_EQ(copy.copied(), sent.size());
  std::string got(sent.size(), '\0');
  EXPECT_EQ(::pread(sink, got.data(), got.size(), 0), ssize_t(sent.size()));
  EXPECT_EQ(got, sent);
  ::close(file);
  ::close(sink);
}

}  // namespace
