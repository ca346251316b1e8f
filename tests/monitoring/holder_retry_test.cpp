// The retries of failed status-file writes across the controller's loss: those of the files
// the loss clears go with it, the others go on.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <filesystem>

#include "monitoring/MonitoringDataHolder.h"
#include "tests/monitoring/MonitoringSupport.h"
#include "tests/support/CaptureStreams.h"

namespace {

using montest::Root;
namespace fs = std::filesystem;

LGCP::DisplayParams board_report(int position) {
  LGCP::DisplayParams p;
  auto& b = p.select_board().select_boardStatus();
  b.set_position(position);
  b.get_version() = std::string("1.2");
  b.get_status() = LGCP::ExtBoardStatus::ready;
  b.get_type() = LGCP::ExtBoardType::fxs;
  return p;
}

LGCP::DisplayParams phone_report(int id) {
  LGCP::DisplayParams p;
  p.select_emPhone().select_phoneStatus().set_id(id);
  return p;
}

LGCP::DisplayParams counter_report(int board, int cnt) {
  LGCP::DisplayParams p;
  auto& c = p.select_termCounter();
  c.get_owner() = LGCP::TermCounterOwner::extBoard;
  c.set_ownerId(board);
  c.set_cnt(cnt);
  return p;
}

// A folder that holds something, in the place of the file, makes its write fail (as a full file
// system does) whoever runs the test.
void block(Root const& root, const std::string& file) { fs::create_directories(root.path(file + "/x")); }
void unblock(Root const& root, const std::string& file) { fs::remove_all(root.path(file)); }
bool is_file(Root const& root, const std::string& file) { return fs::is_regular_file(root.path(file)); }

TEST(MonitoringDataHolder, ControllersLossDropsTheRetriesOfWhatItClears) {
  Root root;
  vxtest::CaptureStreams cap;
  MonitoringDataHolder h;
  const std::vector<std::string> files = {"/var/monitoring/board3", "/var/monitoring/emphone0",
                                          "/var/monitoring/term_cnts/board2"};
  for (auto const& f : files) block(root, f);
  h.setDisplayStatus(board_report(3));
  h.setDisplayStatus(phone_report(0));
  h.setDisplayStatus(counter_report(2, 9));
  ASSERT_EQ(h.failedWrites(), 3u);
  ASSERT_FALSE(is_file(root, "/var/monitoring/board3"));

  h.ClearControllerFiles();
  EXPECT_TRUE(h.boardStatuses.empty());
  EXPECT_EQ(h.failedWrites(), 2u);
  for (auto const& f : files) unblock(root, f);
  h.RetryFailedWrites();
  EXPECT_FALSE(root.exists("/var/monitoring/board3"));
  EXPECT_EQ(root.read("/var/monitoring/emphone0"), "\n\n\n0\n0\n0\n0\n0\n");
  EXPECT_EQ(root.read("/var/monitoring/term_cnts/board2"), "9");
  EXPECT_EQ(h.failedWrites(), 0u);

  // A folder that cannot be read at the loss: the pending board write goes all the same,
  // though the retry would make the folder again.
  block(root, "/var/monitoring/board4");
  h.setDisplayStatus(board_report(4));
  ASSERT_EQ(h.failedWrites(), 1u);
  fs::remove_all(root.path("/var/monitoring"));
  h.ClearControllerFiles();
  EXPECT_EQ(h.failedWrites(), 0u);
  h.RetryFailedWrites();
  EXPECT_FALSE(root.exists("/var/monitoring/board4"));
}

// The name of the controllers' folder taken by a file at the first report: once it is free,
// the retry makes the folders, the status file and the own controller's "self" link.
TEST(MonitoringDataHolder, SelfLinkIsOwedLikeTheFolders) {
  Root root;
  vxtest::CaptureStreams cap;
  MonitoringDataHolder h;
  const std::string own = inet_ntoa(h.ownAddr.sin_addr);
  root.write("/var/monitoring/controller", "taken");
  LGCP::ControllerInfo info;
  info.get_host().set_iaddr(own);
  info.get_host().get_port() = 0u;
  info.set_status(HSP::ControllerStatus::notrun);
  EXPECT_TRUE(h.setControllerStatus(info));
  EXPECT_TRUE(h.selfLinkOwed());
  h.RetryFailedWrites();
  h.RetryFailedWrites();
  EXPECT_TRUE(h.selfLinkOwed());

  fs::remove(root.path("/var/monitoring/controller"));
  h.RetryFailedWrites();
  EXPECT_EQ(root.read("/var/monitoring/controller/" + own + "/status"), "5");
  const fs::path self = root.path("/var/monitoring/controller/self");
  ASSERT_TRUE(fs::is_symlink(self));
  EXPECT_EQ(fs::read_symlink(self), root.path("/var/monitoring/controller/" + own));
  EXPECT_FALSE(h.selfLinkOwed());
  EXPECT_EQ(h.failedWrites(), 0u);
}

}  // namespace
