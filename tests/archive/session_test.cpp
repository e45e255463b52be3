// One engine, many operations: each operation holds the engine through a session, and nothing it
// installs or sets (handlers, password, selection, cancel, folder, overwrite mode, settings)
// reaches the operation after it.
#include "archive/zipsession.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/zipexceptions.h"
#include "testutil.h"

using testutil::TempDir;
using testutil::WriteFile;

namespace {

using Counts = std::map<std::string, int>;

// Counting listeners on the events the program's operations use.
void Count(TZipSession& s, Counts& c) {
  s.Listen(&TArcUnZip::OnTotalPercentDone, [&c](TZipSender, int) { ++c["TotalPercent"]; });
  s.Listen(&TArcUnZip::OnStartUnZipInfo,
           [&c](TZipSender, int, int64_t, bool&) { ++c["StartUnZipInfo"]; });
  s.Listen(&TArcUnZip::OnStartUnZip,
           [&c](TZipSender, int, std::string&, bool&) { ++c["StartUnZip"]; });
  s.Listen(&TArcUnZip::OnEndUnZip, [&c](TZipSender, int, const std::string&) { ++c["EndUnZip"]; });
  s.Listen(&TArcUnZip::OnSkippingFile,
           [&c](TZipSender, TSkipReason, const std::string&, int, bool&) { ++c["Skipping"]; });
  s.Listen(&TArcUnZip::OnBadPassword, [&c](TZipSender, int, std::string&) { ++c["BadPassword"]; });
  s.Listen(&TArcZip::OnStartZipInfo,
           [&c](TZipSender, int, int64_t, TEndCentral&, bool&) { ++c["StartZipInfo"]; });
  s.Listen(&TArcZip::OnStartZip,
           [&c](TZipSender, const std::string&, TZipHeaderInfo&, bool&) { ++c["StartZip"]; });
  s.Listen(&TArcZip::OnZipComplete, [&c](TZipSender, int) { ++c["ZipComplete"]; });
}

}  // namespace

TEST(ZipSession, OperationsInTurnOnOneEngineLeaveNothingBehind) {
  TempDir dir;
  WriteFile(dir / "a.txt", std::string(4000, 'a'));
  WriteFile(dir / "b.txt", "bee");
  const std::vector<std::string> files{dir / "a.txt", dir / "b.txt"};
  TArcZip zip;
  zip.PackThreads = 0;
  zip.OverwriteMode = TUZOverwriteMode::Never;  // the program's idle choice
  ASSERT_EQ(::mkdir((dir / "private").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "restored").c_str(), 0755), 0);
  {
    TZipSession s(zip);
    zip.SetZipName(dir / "plain.zip");
    zip.FilesList = files;
    ASSERT_EQ(zip.ZipFiles(), 2);
  }

  struct Step {
    const char* name;
    std::function<void(TZipSession&)> run;
    const char* expected;  // an event this operation's own handler must have seen ("" none)
  };
  const std::vector<Step> steps = {
      {"read for the view",
       [&](TZipSession&) {
         zip.SetZipName(dir / "plain.zip");
         zip.ReadArchive();
       },
       ""},
      {"Open an entry",
       [&](TZipSession&) {
         zip.OverwriteMode = TUZOverwriteMode::Always;
         zip.SetDestDir(dir / "private");
         zip.SetEntrySelected(0, true);
         ASSERT_EQ(zip.ExtractSelected(), 1);
         zip.SetEntrySelected(1, true);  // a selection the operation leaves behind
       },
       "EndUnZip"},
      {"backup with a password",
       [&](TZipSession&) {
         zip.SetZipName(dir / "secret.zip");
         zip.Password = "secret";
         zip.PackLevel = 9;
         zip.FilesList = files;
         ASSERT_EQ(zip.ZipFiles(), 2);
       },
       "StartZip"},
      {"extraction without a password",
       [&](TZipSession& s) {
         // The backup's password would open the entries; without it every one is refused.
         s.Handle(&TArcUnZip::OnBadPassword, [](TZipSender, int, std::string&) {});
         zip.SetDestDir(dir / "restored");
         zip.DoAll = true;
         EXPECT_EQ(zip.Extract(), 0);
       },
       "Skipping"},
      {"counting run",
       [&](TZipSession& s) {
         zip.SetZipName(dir / "count.zip");
         zip.FilesList = files;
         s.Listen(&TArcZip::OnStartZipInfo,
                  [&](TZipSender, int, int64_t, TEndCentral&, bool& stop) {
                    stop = true;
                    zip.CancelOperation();  // a cancel that arrives after the last check
                  });
         EXPECT_THROW(zip.ZipFiles(), EUserCanceled);
       },
       "StartZipInfo"},
      {"test",
       [&](TZipSession&) {
         zip.SetZipName(dir / "plain.zip");
         EXPECT_TRUE(zip.TestArchive());
       },
       "StartUnZipInfo"},
  };

  std::vector<Counts> counts(steps.size());
  std::vector<Counts> afterOwnStep(steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(steps[i].name);
    {
      TZipSession s(zip);
      ASSERT_FALSE(s.Refused());
      Count(s, counts[i]);
      steps[i].run(s);
      // While one operation holds the engine, another is refused.
      EXPECT_TRUE(TZipSession(zip).Refused());
    }
    afterOwnStep[i] = counts[i];
    if (*steps[i].expected) {
      EXPECT_GT(counts[i][steps[i].expected], 0);
    }
    // The idle engine: no handler, no password, no selection, the idle folder and settings.
    EXPECT_FALSE(zip.SessionOpen());
    EXPECT_FALSE(zip.OnStartZip || zip.OnStartZipInfo || zip.OnEndUnZip || zip.OnBadPassword ||
                 zip.OnSkippingFile || zip.OnTotalPercentDone);
    EXPECT_EQ(zip.Password, "");
    EXPECT_EQ(zip.SelectedCount(), 0);
    EXPECT_EQ(zip.DestDir(), "");
    EXPECT_EQ(zip.OverwriteMode, TUZOverwriteMode::Never);
    EXPECT_FALSE(zip.DoAll);
    EXPECT_EQ(zip.PackLevel, 6);
    EXPECT_TRUE(zip.FilesList.empty());
  }
  // No operation's handler fired in an operation after it.
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(counts[i], afterOwnStep[i]) << steps[i].name;
}

TEST(ZipSession, ListenersRunInOrderAndAnExceptionStillRestoresTheIdleEngine) {
  TArcZip zip;
  std::vector<std::string> calls;
  // The program's own handler stays on the idle engine; a session's listeners go around it.
  zip.OnStartUnZip = [&](TZipSender, int, std::string&, bool&) { calls.push_back("program"); };
  struct Case {
    const char* name;
    bool skipInFirst;  // the listener in front sets Skip: the ones after it do not run
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"all run", false, {"first", "program", "after"}},
      {"skip ends the event", true, {"first"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    calls.clear();
    {
      TZipSession s(zip);
      s.Listen(&TArcUnZip::OnStartUnZip,
               [&](TZipSender, int, std::string&, bool&) { calls.push_back("after"); });
      s.Listen(
          &TArcUnZip::OnStartUnZip,
          [&](TZipSender, int, std::string&, bool& skip) {
            calls.push_back("first");
            skip = c.skipInFirst;
          },
          TZipSession::TOrder::First);
      std::string name;
      bool skip = false;
      zip.OnStartUnZip(&zip, 0, name, skip);
      EXPECT_EQ(skip, c.skipInFirst);
    }
    EXPECT_EQ(calls, c.expected);
    calls.clear();
    bool skip = false;
    std::string name;
    zip.OnStartUnZip(&zip, 0, name, skip);
    EXPECT_EQ(calls, std::vector<std::string>{"program"});
  }
  // A listener that takes itself off while it runs (a cancelled password prompt) is safe.
  {
    TZipSession s(zip);
    int asked = 0;
    s.Listen(&TArcUnZip::OnBadPassword, [&](TZipSender, int, std::string&) { ++asked; });
    s.Listen(&TArcUnZip::OnBadPassword, [&](TZipSender z, int, std::string&) {
      ++asked;
      z->OnBadPassword = nullptr;
    });
    std::string password;
    zip.OnBadPassword(&zip, 0, password);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(zip.OnBadPassword);
  }
  // An exception leaving the operation still gives the idle engine back.
  try {
    TZipSession s(zip);
    zip.Password = "typed";
    zip.PackLevel = 0;
    zip.SetDestDir("/tmp/somewhere");
    s.Handle(&TArcUnZip::OnStartUnZip, nullptr);
    throw 42;
  } catch (int) {
  }
  EXPECT_EQ(zip.Password, "");
  EXPECT_EQ(zip.PackLevel, 6);
  EXPECT_EQ(zip.DestDir(), "");
  EXPECT_TRUE(zip.OnStartUnZip);
  EXPECT_FALSE(zip.SessionOpen());
}
