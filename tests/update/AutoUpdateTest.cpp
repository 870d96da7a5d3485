// The auto-update service against a real server: a new list's first cycle,
// servers that must change nothing, one download for lists in two
// processes and for a manual update, downloads that never run away,
// destruction that never waits on the network or the update mutex, the
// new-version question asked without the mutex, and a cycle that fails
// inside without leaving the mutex held or spinning.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/ChildProcess.h"
#include "phishlist/PhishList.h"
#include "platform/Testing.h"
#include "support/TraceCapture.h"
#include "update/AutoUpdate.h"
#include "update/RemoteMD.h"
#include "update/UpdateSite.h"
#include "platform/WinUser.h"

using namespace ostrel::test;
namespace testing_seam = ostrel::platform::testing;
using Kind = TestHttpServer::Kind;

namespace {

const std::wstring kWaiting =
    L"Waiting for quit signal or next auto update cycle (which ever comes first)\r\n";
constexpr LONGLONG kOldUpdate = 20000101000000;
const std::string kOldDb = "b ^old\\.test/\n";
const std::string kNewDb = "b ^new\\.test/\n";

ListKind KindOf(CPhishList& list, const wchar_t* url) { return list.LookUp(CUri(url)); }

// Fetches the client would end only after 8 s: only a quit event ends them in time.
void SlowNetwork() {
  testing_seam::HttpLimits slow;
  slow.stallTimeoutMs = slow.responseTimeoutMs = 8000;
  testing_seam::SetHttpLimits(slow);
}

bool CyclesDone(const CTraceCapture& capture, std::size_t n) {
  return Eventually([&] { return capture.Count(kWaiting) >= n; });
}

// Version 1 installed and loaded at creation; version 2 on the server.
void InstallVersionOne(UpdateSite& site, LONGLONG nextUpdate = -1) {
  ASSERT_TRUE(WriteLocalDatabase(kOldDb));
  CSettings::SetPDBUN(1);
  CSettings::SetTTNUP(nextUpdate);
  CSettings::SetLSTUD(kOldUpdate);
  CSettings::SetDBLoadOnDemand(0);
  site.Publish("DB_VERSION=2\n");
  site.Publish(kNewDb, "/db");
}

}  // namespace

TEST(AutoUpdateTest, ANewListsFirstCycleDownloadsSavesLoadsRecordsAndAnnounces) {
  for (const bool writable : {true, false}) {
    SCOPED_TRACE(writable ? "local file written" : "local file cannot be written");
    UpdateSite site;
    const LONGLONG next = CRemoteMD::NowStamp(0) + 100000000;
    site.Publish("DB_VERSION=5\nNEXT_UPD=" + std::to_string(next) + "\n");
    site.Publish(kNewDb, "/db");
    if (!writable) UseLocalDatabase(TestRoot() + "/missing-folder/local.dat");
    CEvent done(false, true, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_EVENT", true);
    std::atomic<bool> announced{false};
    std::thread waiter([&] { announced = done.Wait(20000); });
    ASSERT_TRUE(Eventually([&] { return testing_seam::KernelObjectWaits(done.GetHandle()) == 1; }));
    CTraceCapture capture;
    const LONGLONG before = CRemoteMD::NowStamp(0);
    {
      CPhishList list;
      ASSERT_TRUE(CyclesDone(capture, 1));
      EXPECT_EQ(KindOf(list, L"http://new.test/"), LIST_KIND_BLACK);
      EXPECT_EQ(site.server.Count("/md"), 1);
      EXPECT_EQ(site.server.Count("/db"), 1);
      if (writable) {
        EXPECT_TRUE(Eventually([&] { return announced.load(); }));
        EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), Container(kNewDb));
        EXPECT_EQ(CSettings::GetPDBUN(0), 5);
        EXPECT_EQ(CSettings::GetTTNUP(0), next);
        EXPECT_GE(CSettings::GetLSTUD(0), before);
        EXPECT_LE(CSettings::GetLSTUD(0), CRemoteMD::NowStamp(0));
        EXPECT_EQ(CSettings::GetLastUser(L""), CRemoteMD::GetCurrentUserName());
      } else {  // this list has the data; nothing claims the file has it
        EXPECT_FALSE(announced);
        EXPECT_EQ(CSettings::GetPDBUN(-7), -7);  // never written
        EXPECT_EQ(CSettings::GetLSTUD(-7), -7);
        EXPECT_EQ(CSettings::GetTTNUP(-7), -7);
        // Nothing recorded tells a second window not to download: this
        // process already did within the poll interval.
        CPhishList second;
        ASSERT_TRUE(CyclesDone(capture, 2));
        EXPECT_EQ(site.server.Count("/db"), 1);
      }
    }
    done.Set();  // releases a waiter that saw no announcement
    waiter.join();
    done.Reset();
  }
}

TEST(AutoUpdateTest, BadServersChangeNothingAndTheNextCycleTriesAgain) {
  UpdateSite site;  // the client gives up after a 1 s stall or 100,000 bytes
  InstallVersionOne(site);
  const std::string good = Container(kNewDb);
  std::string wrongSum = good;
  wrongSum.back() = static_cast<char>(wrongSum.back() + 1);
  std::string huge;
  while (huge.size() < 1000000) huge += "b ^new" + std::to_string(huge.size()) + "\\.test/\n";
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"garbage", [&] { site.server.Serve("/db", "<html>no database here</html>"); }},
      {"a page that passes the checksum", [&] { site.Publish("<html>log-in</html>\n", "/db"); }},
      {"wrong checksum", [&] { site.server.Serve("/db", wrongSum); }},
      {"truncated", [&] { site.server.Answer("/db", Kind::Truncate, good.substr(0, 9), 200, good.size()); }},
      {"404", [&] { site.server.Serve("/db", good, 404); }},
      {"500", [&] { site.server.Serve("/db", good, 500); }},
      {"redirect loop", [&] { site.server.Answer("/db", Kind::Redirect, "/db"); }},
      {"far above the cap", [&] { site.Publish(huge, "/db"); }},
      {"endless", [&] { site.server.Answer("/db", Kind::Endless); }},
      {"stall", [&] { site.server.Answer("/db", Kind::Stall); }},
  };
  CEvent done(false, true, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_EVENT", true);
  std::atomic<bool> stop{false};
  std::atomic<int> announcements{0};
  std::thread watcher([&] {
    while (!stop) announcements += done.Wait(50) ? 1 : 0;
  });
  CTraceCapture capture;
  std::unique_ptr<CPhishList> list;
  for (const auto& [name, serve] : rows) {
    SCOPED_TRACE(name);
    list.reset();
    serve();
    const int tries = site.server.Count("/db");
    capture.Clear();
    list = std::make_unique<CPhishList>();
    ASSERT_TRUE(CyclesDone(capture, 1));
    EXPECT_GT(site.server.Count("/db"), tries);
    EXPECT_EQ(KindOf(*list, L"http://old.test/"), LIST_KIND_BLACK);
    EXPECT_EQ(KindOf(*list, L"http://new.test/"), LIST_KIND_NONE);
    EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), Container(kOldDb));
    EXPECT_EQ(CSettings::GetPDBUN(0), 1);
    EXPECT_EQ(CSettings::GetTTNUP(0), -1);
    EXPECT_EQ(CSettings::GetLSTUD(0), kOldUpdate);
  }
  // A list not loaded yet keeps the local file, which the others load from.
  list.reset();
  CSettings::SetDBLoadOnDemand(1);
  site.Publish("", "/db");
  const int tries = site.server.Count("/db");
  capture.Clear();
  list = std::make_unique<CPhishList>();
  ASSERT_TRUE(CyclesDone(capture, 1));
  EXPECT_GT(site.server.Count("/db"), tries);
  EXPECT_EQ(ReadFileBytes(LocalDatabasePath()), Container(kOldDb));
  EXPECT_EQ(CSettings::GetLSTUD(0), kOldUpdate);
  EXPECT_EQ(announcements, 0);
  // The same thread's next cycle, with the server mended, installs it.
  site.server.Serve("/db", good);
  ASSERT_TRUE(RequestDatabaseUpdate());
  EXPECT_TRUE(Eventually([&] { return KindOf(*list, L"http://new.test/") == LIST_KIND_BLACK; }));
  EXPECT_TRUE(Eventually([&] { return CSettings::GetPDBUN(0) == 2; }));
  stop = true;
  watcher.join();
}

TEST(AutoUpdateTest, TwoListsInTwoProcessesDownloadOnce) {
  ForgetThisProcessDownload();  // the children are forked before the site forgets it
  // Forked before the server's threads start; each builds its list on "go".
  const ChildProcess::Body body = [](ChildProcess& self) {
    std::uint32_t message = 0;
    if (!self.Receive(&message, 20000)) return 2;
    CPhishList list;
    const bool updated = Eventually([&] { return KindOf(list, L"http://new.test/") == LIST_KIND_BLACK; });
    self.Send(updated ? 1 : 0);
    self.Receive(&message, 20000);  // keeps the list until the parent has counted
    return 0;
  };
  ChildProcess first(body), second(body);
  UpdateSite site;
  InstallVersionOne(site);
  first.Send(1);
  second.Send(1);
  std::uint32_t updated[2] = {0, 0};
  EXPECT_TRUE(first.Receive(&updated[0], 20000));
  EXPECT_TRUE(second.Receive(&updated[1], 20000));
  EXPECT_EQ(updated[0], 1u);
  EXPECT_EQ(updated[1], 1u);
  EXPECT_EQ(site.server.Count("/md"), 1);
  EXPECT_EQ(site.server.Count("/db"), 1);
  first.Send(0);
  second.Send(0);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
}

TEST(AutoUpdateTest, AManualUpdateWhileThreeListsWaitDownloadsOnce) {
  UpdateSite site;
  InstallVersionOne(site, CRemoteMD::NowStamp(0) + 100000000);  // not due: no requests
  CTraceCapture capture;
  CPhishList lists[3];
  ASSERT_TRUE(CyclesDone(capture, 3));
  EXPECT_EQ(site.server.Count("/md"), 0);
  ASSERT_TRUE(RequestDatabaseUpdate());
  for (CPhishList& list : lists)
    EXPECT_TRUE(Eventually([&] { return KindOf(list, L"http://new.test/") == LIST_KIND_BLACK; }));
  EXPECT_EQ(site.server.Count("/md"), 1);
  EXPECT_EQ(site.server.Count("/db"), 1);
  EXPECT_EQ(capture.Count(L"memory resident list is out of date, reloading from local DB cache file\r\n"), 2u);
}

TEST(AutoUpdateTest, DestroyingAListNeverWaitsOnTheNetwork) {
  const std::tuple<const char*, const char*, Kind> rows[] = {
      {"metadata never answers", "/md", Kind::Stall},  // stalls and drips: HttpTest
      {"database drips", "/db", Kind::Drip},
  };
  for (const auto& [name, path, kind] : rows) {
    SCOPED_TRACE(name);
    UpdateSite site;
    SlowNetwork();
    site.Publish("DB_VERSION=1\n");
    site.server.Answer(path, kind);
    auto list = std::make_unique<CPhishList>();
    ASSERT_TRUE(Eventually([&] { return site.server.Count(path) == 1; }));
    const auto start = Clock::now();
    list.reset();
    EXPECT_LT(MillisecondsSince(start), 2000);
  }
  UpdateSite site;  // a list waiting for its next cycle ends at once
  site.Publish("DB_VERSION=1\n");
  site.Publish(kOldDb, "/db");
  CTraceCapture capture;
  auto waiting = std::make_unique<CPhishList>();
  ASSERT_TRUE(CyclesDone(capture, 1));
  const auto start = Clock::now();
  waiting.reset();
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(capture.Count(L"Quit event signaled, terminating auto update thread\r\n"), 1u);
}

TEST(AutoUpdateTest, AListWaitingForTheUpdateMutexIsDestroyedAtOnce) {
  UpdateSite site;
  SlowNetwork();
  site.server.Answer("/md", Kind::Stall);
  CMutex updateMutex(false, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_MUTEX", true);
  CPhishList holder;  // its cycle holds the mutex, stalled on the metadata
  ASSERT_TRUE(Eventually([&] { return site.server.Count("/md") == 1; }));
  auto waiting = std::make_unique<CPhishList>();
  ASSERT_TRUE(Eventually([&] { return testing_seam::KernelObjectWaits(updateMutex.GetHandle()) > 0; }));
  const auto start = Clock::now();
  waiting.reset();
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(site.server.Count("/md"), 1);  // the destroyed list ran no cycle of its own
}

// Two lists here and one in a second process, for a few seconds after the
// download: whatever the site says, one download, and a pulse of the
// update-done event makes the lists reload, never download.
TEST(AutoUpdateTest, ListsInTwoProcessesNeverDownloadOverAndOver) {
  const struct {
    const char* name;
    bool installed, metadataUp, manual;
  } rows[] = {
      {"metadata without DB_VERSION, new installation", false, true, false},
      {"404 metadata, new installation", false, false, false},
      {"update now while the metadata is down", true, false, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ForgetThisProcessDownload();  // inherited by the child too
    ChildProcess child([](ChildProcess& self) {
      std::uint32_t message = 0;
      if (!self.Receive(&message, 20000)) return 2;
      CPhishList list;
      if (!self.Send(1) || !self.Receive(&message, 20000)) return 3;
      self.Send(Eventually([&] { return KindOf(list, L"http://new.test/") == LIST_KIND_BLACK; }) ? 1 : 0);
      self.Receive(&message, 20000);  // keeps the list until the parent has counted
      return 0;
    });
    UpdateSite site;
    if (row.installed) InstallVersionOne(site, CRemoteMD::NowStamp(0) + 100000000);
    site.Publish(kNewDb, "/db");
    if (row.metadataUp) site.Publish("POLL_INTERVAL=1\n");
    else site.server.Serve("/md", "", 404);
    CTraceCapture capture;
    std::uint32_t reply = 0;
    ASSERT_TRUE(child.Send(1) && child.Receive(&reply, 20000));  // its list is built first
    CPhishList first, second;
    ASSERT_TRUE(CyclesDone(capture, 2));
    if (row.manual) {
      ASSERT_TRUE(RequestDatabaseUpdate());
    }
    EXPECT_TRUE(Eventually([&] { return site.server.Count("/db") > 0; }));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(site.server.Count("/db"), 1);
    CEvent(false, true, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_EVENT", true).Pulse();
    ASSERT_TRUE(child.Send(1) && child.Receive(&reply, 20000));
    EXPECT_EQ(reply, 1u);
    for (CPhishList* list : {&first, &second}) {
      EXPECT_TRUE(Eventually([&] { return KindOf(*list, L"http://new.test/") == LIST_KIND_BLACK; }));
    }
    EXPECT_EQ(site.server.Count("/db"), 1);
    child.Send(0);
    EXPECT_EQ(child.Wait(), 0);
  }
}

TEST(AutoUpdateTest, TheNewVersionQuestionIsAskedOnceTheMutexIsReleased) {
  UpdateSite site;
  InstallVersionOne(site, CRemoteMD::NowStamp(0) + 100000000);
  site.Publish("BHO_VERSION=124\nBHO_UPD_URI=http://updates.test/setup.msi\n");
  // The opener, run on Yes, holds the cycle's thread until the test has looked.
  const std::string opened = TestRoot() + "/opened", looked = TestRoot() + "/looked";
  UseOpener("echo \"$1\" > " + opened + "\nfor i in $(seq 40); do\n  [ -e " + looked +
            " ] && exit 0\n  sleep 0.1\ndone\n");
  struct Restore {
    ~Restore() {
      testing_seam::SetProgramPath("");
      testing_seam::SetShellOpenCommand("");
    }
  } restore;
  testing_seam::SetProgramPath("/usr/bin/ostrel-browser");  // a browser's process offers programs
  testing_seam::ScriptMessageBoxAnswers({IDYES});
  CMutex updateMutex(false, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_MUTEX", true);
  {
    CPhishList list;
    ASSERT_TRUE(Eventually([&] { return ReadFileBytes(opened) == "http://updates.test/setup.msi\n"; }));
    const DWORD free = updateMutex.Lock(0);
    if (free == WAIT_OBJECT_0) updateMutex.Unlock();
    EXPECT_EQ(free, WAIT_OBJECT_0);
    WriteFileBytes(looked, "");
  }
  EXPECT_EQ(testing_seam::TakeMessageBoxCalls().size(), 1u);
  EXPECT_EQ(CSettings::GetBHOUW(0), CRemoteMD::TodayStamp());
}

TEST(AutoUpdateTest, ACycleThatFailsInsideReleasesTheMutexAndWaits) {
  UpdateSite site;
  InstallVersionOne(site, CRemoteMD::NowStamp(0) + 100000000);
  CMutex updateMutex(false, L"_OSTREL_ANTIPHISH_BHO_AUTOUPD_MUTEX", true);
  CTraceCapture capture;
  CPhishList list;
  ASSERT_TRUE(CyclesDone(capture, 1));
  // The local file's mutex cannot be made: the cycle raises inside.
  testing_seam::SetVersionQueryFails(true);
  ASSERT_TRUE(RequestDatabaseUpdate());
  ASSERT_TRUE(CyclesDone(capture, 2));
  EXPECT_TRUE(capture.Contains(L"Update cycle ended by an error"));
  EXPECT_EQ(updateMutex.Lock(0), WAIT_OBJECT_0);
  updateMutex.Unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(capture.Count(L"Performing auto update\r\n"), 2u);  // waiting, not spinning
  EXPECT_EQ(KindOf(list, L"http://old.test/"), LIST_KIND_BLACK);
  testing_seam::SetVersionQueryFails(false);
  ASSERT_TRUE(RequestDatabaseUpdate());
  EXPECT_TRUE(Eventually([&] { return KindOf(list, L"http://new.test/") == LIST_KIND_BLACK; }));
}

TEST(AutoUpdateTest, BrowserProcessesByTheirExecutable) {
  const std::pair<const wchar_t*, bool> paths[] = {
      {L"C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE", true},
      {L"/usr/local/bin/ostrel-browser", true},
      {L"/home/u/ostrel-browser/ostrel_tests_update", false},
      {L"/usr/bin/ostrel-browser-helper", false},
      {L"/usr/bin/explorer.exe", false},
  };
  for (const auto& [path, browser] : paths) EXPECT_EQ(IsBrowserExecutablePath(path), browser) << path;
  EXPECT_FALSE(IsBrowserProcess());
}
