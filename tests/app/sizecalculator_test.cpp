#include "app/sizecalculator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/checkstore.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

using testutil::TempDir;

namespace {

struct RecordingSizeHost : ISizeCalcHost {
  QStringList edits;
  QStringList buttons;
  QString count, total, archive;
  int cleared = 0, gauge = 0, compression = 0;
  void SetSizeEditText(const QString& t) override { edits << t; }
  void SetSizeButtonEnabled(bool on) override { buttons << (on ? "on" : "off"); }
  void ClearStatusBar() override { ++cleared; }
  void ShowSizeCount(const QString& c, const QString& t) override {
    count = c;
    total = t;
  }
  void GaugeClear() override { ++gauge; }
  QString ArchiveName() const override { return archive; }
  int CompressionIndex() const override { return compression; }
};

}  // namespace

TEST(SizeCalculator, NothingTickedFlashesNoFiles) {
  FakeClock clock;
  RecordingSizeHost host;
  TCheckStore store;
  TSizeCalculator calc(host, store);
  int counted = 0;
  calc.Counter = [&](const QString&) -> std::optional<SizeCount> {
    ++counted;
    return SizeCount{};
  };
  calc.SizeCalcClick();
  EXPECT_EQ(host.edits, (QStringList{"No Files!", "FILE Size"}));
  EXPECT_EQ(host.buttons, (QStringList{"off", "on"}));
  EXPECT_EQ(clock.waited(), 1000);
  EXPECT_EQ(counted, 0);
}

TEST(SizeCalculator, MeasuresExpectedSizeAndWithdrawsItOnTicks) {
  TempDir dir;
  testutil::WriteFile(dir / "old.zip", "zip");
  RecordingSizeHost host;
  host.archive = QString::fromStdString(dir / "old.zip");
  TCheckStore store;
  store.SetChecked(dir.path(), true);
  TSizeCalculator calc(host, store);
  QString scratch;
  bool modeDuringCount = false;
  calc.Counter = [&](const QString& s) -> std::optional<SizeCount> {
    scratch = s;
    modeDuringCount = calc.SizeCalcMode();
    return SizeCount{12, 1'000'400'000};
  };
  calc.SizeCalcClick();
  EXPECT_TRUE(modeDuringCount);
  EXPECT_FALSE(calc.SizeCalcMode());
  EXPECT_TRUE(scratch.endsWith("/$old.zip")) << "an existing archive is never touched";
  EXPECT_EQ(host.edits, (QStringList{"Calculate", "556zMb"}));
  EXPECT_EQ(host.count, "12 DIR&files");
  EXPECT_EQ(host.total, "Total size: 1000 Mb");
  EXPECT_EQ(calc.SizeResultMb(), 1000);
  host.compression = 2;
  calc.CompressionChanged();
  EXPECT_EQ(host.edits.last(), "1000zMb");

  calc.TicksChanged();
  EXPECT_EQ(host.edits.last(), "FILE Size");
  host.compression = 0;
  calc.CompressionChanged();
  EXPECT_EQ(host.edits.last(), "FILE Size") << "a withdrawn size does not come back";

  // A counting run that stops shows no size.
  calc.Counter = [](const QString&) { return std::optional<SizeCount>(); };
  calc.SizeCalcClick();
  EXPECT_EQ(host.edits.last(), "FILE Size");
  EXPECT_EQ(calc.SizeResultMb(), 0);
}

TEST(SizeCalculator, CountEngineListsFollowsPatternsExcludesAndRecursion) {
  TempDir dir;
  ::mkdir((dir / "sub").c_str(), 0700);
  testutil::WriteFile(dir / "a.DOC", "12345");
  testutil::WriteFile(dir / "b.txt", "1");
  testutil::WriteFile(dir / "c.tmp", "1");
  testutil::WriteFile(dir / "sub/d.doc", "123");
  EngineLists l;
  l.files = {dir.path() + "/*.doc"};
  EXPECT_EQ(CountEngineLists(l, false).files, 1);
  const SizeCount deep = CountEngineLists(l, true);
  EXPECT_EQ(deep.files, 2);
  EXPECT_EQ(deep.bytes, 8u);
  l.files = {dir.path() + "/*.*", dir / "b.txt", dir / "missing"};
  l.exclude = {"*.TMP"};
  EXPECT_EQ(CountEngineLists(l, false).files, 3) << "a.DOC, b.txt and b.txt named again";
}
