// The data holder's values and the status files it writes under the path root.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "monitoring/MonitoringDataHolder.h"
#include "monitoring/StatusFiles.h"
#include "tests/monitoring/MonitoringSupport.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/FileDate.h"

namespace {

using montest::Root;

LGCP::BoardInfo board(int position, int status, const std::string& version, int type) {
  LGCP::BoardInfo info;
  auto& b = info.select_boardStatus();
  b.set_position(position);
  b.get_version() = version;
  b.get_status() = static_cast<LGCP::ExtBoardStatus::NamedNumber>(status);
  b.get_type() = static_cast<LGCP::ExtBoardType::NamedNumber>(type);
  return info;
}

LGCP::TermCounter counter(int owner, std::optional<int> id, int cnt) {
  LGCP::TermCounter c;
  c.set_owner(static_cast<LGCP::TermCounterOwner::NamedNumber>(owner));
  if (id) c.set_ownerId(*id);
  c.set_cnt(cnt);
  return c;
}

LGCP::ControllerInfo controller(const std::string& host, int status) {
  LGCP::ControllerInfo c;
  c.get_host().set_iaddr(host);
  c.get_host().get_port() = 0u;
  c.set_status(static_cast<HSP::ControllerStatus::NamedNumber>(status));
  return c;
}

MON::SnmpSetCommands sets(std::initializer_list<MON::SnmpSetCommand> list) {
  MON::SnmpSetCommands s;
  for (auto const& c : list) s.get_commands().push_back(c);
  return s;
}

TEST(MonitoringDataHolder, StartClearsStaleFilesWithoutFollowingLinksAndMakesFolders0755) {
  Root root;
  const mode_t umask_before = ::umask(077);
  root.write("/outside/keep", "mine");
  root.write("/var/monitoring/old", "x");
  root.write("/var/monitoring/controller/1.2.3.4/status", "1");  // another process's: stays
  std::filesystem::create_directories(root.path("/var/monitoring/empty"));
  std::filesystem::create_directory_symlink(root.path("/outside"), root.path("/var/monitoring/link"));
  const std::string kept = "controller/\ncontroller/1.2.3.4/\ncontroller/1.2.3.4/status = 1\n";
  {
    MonitoringDataHolder h;
    EXPECT_EQ(root.tree("/var/monitoring"), kept + "term_cnts/\n");
    struct stat st;
    ASSERT_EQ(::stat(root.path("/var/monitoring/term_cnts").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);  // whatever the umask
    EXPECT_FALSE(h.setDipValue(-1));  // scalar files are written on a change only
    EXPECT_FALSE(root.exists("/var/monitoring/dip"));
    EXPECT_TRUE(h.setDipValue(7));
    ASSERT_EQ(::stat(root.path("/var/monitoring/dip").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ::umask(umask_before);
    EXPECT_EQ(root.read("/outside/keep"), "mine");
    LGCP::POWERStatus standby;
    standby = LGCP::POWERStatus::standby;
    for (bool first : {true, false}) {  // a change only the first time
      EXPECT_EQ(h.setPowerStatus(standby), first);
      EXPECT_EQ(h.setConfigVersion(0x1a, 0x2b), first);
      EXPECT_EQ(h.setBuildVersion("T1.2\n"), first);
    }
    EXPECT_EQ(root.tree("/var/monitoring"),
              "config_version = 0000001a-000000000000002b\n" + kept + "dip = 7\npowerstatus = 1\nterm_cnts/\n");
    EXPECT_TRUE(h.setDipValue(-1));
    EXPECT_EQ(root.read("/var/monitoring/dip"), "-1");
    // No temporary file is left beside the written ones.
    for (auto const& e : std::filesystem::directory_iterator(root.path("/var/monitoring")))
      EXPECT_EQ(e.path().filename().string().rfind(".tmp.", 0), std::string::npos) << e.path();
  }
  EXPECT_EQ(root.tree("/var/monitoring"), kept);  // cleared again at the end
}

// Files dated past 2038 are old runs' values as much as any: cleared at start and at exit.
TEST(MonitoringDataHolder, StatusFilesDatedPast2038AreClearedAtStartAndAtExit) {
  Root root;
  const auto gone = [&](const std::string& absolute) {
    struct stat st;
    return ::lstat(root.path(absolute).c_str(), &st) != 0 && errno == ENOENT;
  };
  const auto date = [&](const std::string& absolute) {
    ASSERT_EQ(vxtest::date_file(root.path(absolute), vxtest::k2040), 0) << absolute;
  };
  root.write("/var/monitoring/dip", "3");
  date("/var/monitoring/dip");
  std::filesystem::create_directories(root.path("/var/monitoring/empty"));
  date("/var/monitoring/empty");
  {
    MonitoringDataHolder h;
    EXPECT_TRUE(gone("/var/monitoring/dip"));
    EXPECT_TRUE(gone("/var/monitoring/empty"));
    root.write("/var/monitoring/powerstatus", "1");
    date("/var/monitoring/powerstatus");
  }
  EXPECT_TRUE(gone("/var/monitoring/powerstatus"));
}

TEST(MonitoringDataHolder, DisplayReportsWriteTheirFilesAndMergeTheirLists) {
  Root root;
  MonitoringDataHolder h;
  LGCP::DisplayParams p;
  p.select_board() = board(3, 3, "1.2", 2);
  h.setDisplayStatus(p);
  p.select_board() = board(3, 1, "1.3", 2);
  h.setDisplayStatus(p);
  ASSERT_EQ(h.boardStatuses.size(), 1u);
  EXPECT_EQ(h.boardStatuses.front().get_status().getValue(), 1);

  auto& phone = p.select_emPhone().select_phoneStatus();
  phone.set_id(0);
  phone.get_panelSV() = std::string("p1");
  phone.get_ctrlSV() = std::string("c1");
  phone.get_fpgaSV() = std::string("f1");
  phone.get_status() = LGCP::EmPhoneStatus::ready;
  phone.get_powerStatus() = LGCP::POWERStatus::main;
  phone.get_mode() = LGCP::EmPhoneMode::active;
  phone.get_hookStatus() = LGCP::EmPhoneConnectionStatus::connected;
  phone.get_baseStatus() = LGCP::EmPhoneConnectionStatus::disconnected;
  h.setDisplayStatus(p);

  for (auto const& c : {counter(1, {}, 5), counter(4, 2, 9), counter(4, {}, 1), counter(0, {}, 4), counter(1, {}, 6)}) {
    p.select_termCounter() = c;
    h.setDisplayStatus(p);
  }
  EXPECT_EQ(h.termCounters.size(), 4u);  // the second router counter updated the first

  auto& framer = p.select_framer();
  framer.set_e1(1);
  framer.get_info().select_line() = true;
  h.setDisplayStatus(p);  // a framer report changes nothing
  p.select_board().select_boardChannelStatus();
  h.setDisplayStatus(p);

  EXPECT_EQ(root.tree("/var/monitoring"),
            "board3 = 1\n1.3\n2\n\n"
            "emphone0 = p1\nc1\nf1\n2\n2\n1\n1\n2\n\n"
            "term_cnts/\n"
            "term_cnts/board2 = 9\n"
            "term_cnts/router = 6\n");

  h.ClearControllerFiles();
  EXPECT_FALSE(root.exists("/var/monitoring/board3"));
  EXPECT_TRUE(root.exists("/var/monitoring/emphone0"));
  EXPECT_TRUE(h.boardStatuses.empty());
}

TEST(MonitoringDataHolder, ControllerStatusFilesAndTheSelfLink) {
  Root root;
  MonitoringDataHolder h;
  const std::string own = inet_ntoa(h.ownAddr.sin_addr);
  // Only the own controller's status is a change the agents hear of, and only when new.
  EXPECT_EQ((std::vector<bool>{h.setControllerStatus(controller(own, 2)), h.setControllerStatus(controller(own, 2)),
                               h.setControllerStatus(controller("10.9.9.9", 1)),
                               h.setControllerStatus(controller("not an address", 4))}),
            (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(h.ownControllerStatus.getValue(), 2);
  EXPECT_EQ(h.controllers.size(), 3u);
  EXPECT_EQ(root.read("/var/monitoring/controller/" + own + "/status"), "2");
  EXPECT_EQ(root.read("/var/monitoring/controller/10.9.9.9/status"), "1");
  EXPECT_EQ(root.read("/var/monitoring/controller/0.0.0.0/status"), "4");
  EXPECT_EQ(std::filesystem::read_symlink(root.path("/var/monitoring/controller/self")).string(),
            root.path("/var/monitoring/controller/" + own));
}

TEST(MonitoringDataHolder, SetCommandsMergeAndWriteUnderTheirSection) {
  Root root;
  MonitoringDataHolder h;
  h.setSnmpCommands(sets({montest::set_command(1, "gw", "descr", 2, "x")}));
  EXPECT_EQ(root.read("/var/monitoring/gw/2/descr"), "x");
  MON::SnmpSetCommand oid;
  oid.set_uniq(3);
  oid.get_id().select_oid() = std::string("1.3.6.1");
  oid.set_value("o");
  h.setSnmpCommands(sets({montest::set_command(2, "gw", "descr", 2, "y"), oid}));
  EXPECT_EQ(root.read("/var/monitoring/gw/2/descr"), "y");
  ASSERT_EQ(h.snmpCommands.get_commands().size(), 2u);
  EXPECT_EQ(h.snmpCommands.get_commands()[0].get_uniq().getValue(), 1);  // the held uniq stays
  EXPECT_EQ(montest::text(h.snmpCommands.get_commands()[0]), "gw/2/descr=y");
  h.setSnmpCommands(sets({montest::set_command(4, "gw", "descr", -1, "n")}));
  EXPECT_EQ(root.read("/var/monitoring/gw/-1/descr"), "n");
}

TEST(MonitoringDataHolder, PathShapedSectionsAndNamesAreRefused) {
  Root root;
  vxtest::CaptureStreams cap;
  MonitoringDataHolder h;
  const std::string before = root.tree("/");
  for (auto const& [section, name] : std::vector<std::pair<std::string, std::string>>{
           {"..", "x"}, {"../..", "x"}, {"a/b", "x"}, {"", "x"}, {".", "x"},
           {"gw", ".."}, {"gw", "/etc/passwd"}, {"gw", ""}, {"gw", std::string("a\0b", 3)}}) {
    h.setSnmpCommands(sets({montest::set_command(1, section, name, 0, "evil")}));
  }
  EXPECT_TRUE(h.snmpCommands.get_commands().empty());
  EXPECT_EQ(root.tree("/"), before);
  EXPECT_FALSE(StatusFiles::IsSafeComponent(std::string(256, 'a')));
  EXPECT_TRUE(StatusFiles::IsSafeComponent("..."));
}

TEST(MonitoringDataHolder, AFolderThatCannotBeMadeIsLoggedOnceUntilItCanBe) {
  Root root;
  vxtest::CaptureStreams cap;
  MonitoringDataHolder h;
  const auto lines = [&cap] {
    const std::string log = cap.log.str();
    return std::count(log.begin(), log.end(), '\n');
  };
  root.write("/var/monitoring/powerstatus", "2");
  h.setSnmpCommands(sets({montest::set_command(1, "powerstatus", "p", 0, "v")}));
  EXPECT_EQ(lines(), 1) << cap.log.str();
  EXPECT_NE(cap.log.str().find("FAIL create monitoring catalog <" + root.path("/var/monitoring/powerstatus") + ">"),
            std::string::npos);
  for (int poll = 0; poll < 3; ++poll) h.RetryFailedWrites();
  EXPECT_EQ(lines(), 1) << cap.log.str();
  EXPECT_EQ(root.read("/var/monitoring/powerstatus"), "2");

  // Once the name is free the retry makes the folders and the file; a later failure is news.
  std::filesystem::remove(root.path("/var/monitoring/powerstatus"));
  h.RetryFailedWrites();
  EXPECT_EQ(root.read("/var/monitoring/powerstatus/0/p"), "v");
  EXPECT_EQ(h.failedWrites(), 0u);
  std::filesystem::remove_all(root.path("/var/monitoring/powerstatus"));
  root.write("/var/monitoring/powerstatus", "2");
  h.setSnmpCommands(sets({montest::set_command(1, "powerstatus", "p", 0, "w")}));
  EXPECT_EQ(lines(), 2) << cap.log.str();
}

TEST(MonitoringDataHolder, AFailedWriteIsRetriedOnTheNextPoll) {
  Root root;
  vxtest::CaptureStreams cap;
  MonitoringDataHolder h;
  // A folder where the file should be makes the rename fail.
  std::filesystem::create_directories(root.path("/var/monitoring/dip/sub"));
  EXPECT_TRUE(h.setDipValue(5));
  EXPECT_EQ(h.failedWrites(), 1u);
  h.RetryFailedWrites();
  EXPECT_EQ(h.failedWrites(), 1u);
  std::filesystem::remove_all(root.path("/var/monitoring/dip"));
  h.RetryFailedWrites();
  EXPECT_EQ(h.failedWrites(), 0u);
  EXPECT_EQ(root.read("/var/monitoring/dip"), "5");

  // A removed folder is made again by the retry.
  LGCP::DisplayParams p;
  p.select_termCounter() = counter(3, {}, 8);
  std::filesystem::remove_all(root.path("/var/monitoring/term_cnts"));
  h.setDisplayStatus(p);
  EXPECT_FALSE(root.exists("/var/monitoring/term_cnts/server"));
  h.RetryFailedWrites();
  EXPECT_EQ(root.read("/var/monitoring/term_cnts/server"), "8");
}

}  // namespace
