#include <gtest/gtest.h>

#include "options_fixture.h"
#include "platform/inifile.h"

using namespace opt;

namespace {

const QString kNeedArchive =
    "Please Double-Click on a ZIPfile in Browser first\ror [Restore] button (OpenZIP) to use "
    "this Method";
const QString kSpanInfo = "To define spanned sizes, use 'Size Settings' in Advanced box";

using OptionRules = OptionsFixture;

}  // namespace

TEST_F(OptionRules, SizeListWritesTheMaximumSizeEdit) {
  const char* want[] = {"MaxSizeMb", "650", "1.44", "540", "4700"};
  for (int i : {1, 2, 3, 4, 0}) {
    lists.sizeList.Click(i);
    EXPECT_EQ(lists.maxSizeEdit.text(), want[i]) << i;
  }
  // Code setting the list leaves the edit alone.
  THandlersDetached d{&lists.sizeList};
  lists.sizeList.SetChecked(kSizeCdr650, true);
  EXPECT_EQ(lists.maxSizeEdit.text(), "MaxSizeMb");
}

TEST_F(OptionRules, CompressionRecomputesAShownMeasuredSize) {
  lists.compressionList.Click(kCompLow);
  EXPECT_EQ(env.sizeCalcText, "") << "nothing measured, nothing shown";
  env.measuredMb = 100.0;
  lists.compressionList.Click(kCompMax);
  EXPECT_EQ(env.sizeCalcText, "56zMb");
  lists.compressionList.Click(kCompLow);
  EXPECT_EQ(env.sizeCalcText, "71zMb");
  lists.compressionList.Click(kCompNone);
  EXPECT_EQ(env.sizeCalcText, "100zMb");
}

TEST_F(OptionRules, ModeListDrivesBasicListAndMarking) {
  const int basicFor[] = {kBasicAll,    kBasicAll,     kBasicAll, kBasicChanged,
                          kBasicUpdate, kBasicRefresh, kBasicAll};
  for (int mode : {1, 2, 3, 4, 5, 6, 0}) {
    lists.modeList.Click(mode);
    EXPECT_EQ(lists.basicList.CheckedIndex(), basicFor[mode]) << mode;
    EXPECT_EQ(lists.modeList.Marking(), mode == kModeMove) << mode;
  }
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy) << "basic list changes did not call back";
}

TEST_F(OptionRules, BasicUpdateWithoutArchiveIsRefused) {
  boxes.Answer(IDOK, kNeedArchive);
  lists.basicList.Click(kBasicUpdate);
  EXPECT_EQ(lists.basicList.CheckedIndex(), kBasicAll);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy);
  EXPECT_FALSE(env.addToArchive);
  boxes.Answer(IDOK, kNeedArchive);
  lists.basicList.Click(kBasicRefresh);
  EXPECT_EQ(lists.basicList.CheckedIndex(), kBasicAll);
  EXPECT_EQ(boxes.PendingAnswers(), 0);
}

TEST_F(OptionRules, BasicListWithArchiveEntersMakeModeAndSetsTheMode) {
  env.archiveLoaded = true;
  lists.basicList.Click(kBasicUpdate);
  EXPECT_TRUE(env.addToArchive);
  EXPECT_EQ(options.state(), 3);
  EXPECT_TRUE(options.MakeMode());
  EXPECT_TRUE(modeHost.calls.contains("ClearStatusBar")) << "passed through mode 0";
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeUpdate);
  lists.basicList.Click(kBasicRefresh);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeRefresh);
  // "Changed/New (partial)" needs no archive.
  env = FakeEnv();
  lists.basicList.Click(kBasicChanged);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeBitSetClear);
  // Following the basic list takes "Move Files Then Delete" away, and its marking with it.
  lists.modeList.Click(kModeMove);
  ASSERT_TRUE(lists.modeList.Marking());
  ASSERT_EQ(lists.basicList.CheckedIndex(), kBasicAll);
  lists.basicList.Click(kBasicChanged);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeBitSetClear);
  EXPECT_FALSE(lists.modeList.Marking());
}

TEST_F(OptionRules, DateTimeStampTwinsFollowEachOtherAndRenameTheArchive) {
  env.archiveName = "/b/docs-2002-Dec-01.zip";
  lists.basicStampList.Click(0);  // off: the extension keeps the case it was written in
  EXPECT_FALSE(lists.functionsList.Checked(kFnStamp));
  EXPECT_FALSE(lists.stealthList.Checked(kStealthStamp));
  EXPECT_EQ(env.archiveName, "/b/docs.zip");

  lists.stealthList.Click(kStealthStamp);  // on
  EXPECT_TRUE(lists.functionsList.Checked(kFnStamp));
  EXPECT_TRUE(lists.basicStampList.Checked(0));
  EXPECT_EQ(env.archiveName, "/b/docs-2003-Jan-03.zip");

  prefs.Set("DateTimeFormat", 3);
  env.exeMode = true;
  lists.functionsList.Click(kFnStamp);  // off: a ".zip" does not fit the self-extracting mode
  EXPECT_FALSE(lists.basicStampList.Checked(0));
  EXPECT_FALSE(lists.stealthList.Checked(kStealthStamp));
  EXPECT_EQ(env.archiveName, "/b/docs.EXE");
  lists.functionsList.Click(kFnStamp);  // on
  EXPECT_EQ(env.archiveName, "/b/docs-2003-01-03_1535.EXE");
  // Switching the stamp on keeps an extension that fits the mode, in its own case.
  lists.functionsList.Click(kFnStamp);
  env.archiveName = "/b/new.zip";
  lists.functionsList.Click(kFnStamp);
  EXPECT_EQ(env.archiveName, "/b/new-2003-01-03_1535.EXE");
  lists.functionsList.Click(kFnStamp);
  env.exeMode = false;
  env.archiveName = "/b/new.zip";
  lists.functionsList.Click(kFnStamp);
  EXPECT_EQ(env.archiveName, "/b/new-2003-01-03_1535.zip");

  // Without a named archive nothing is named.
  env.archiveName.clear();
  env.namesSet.clear();
  lists.functionsList.Click(kFnStamp);
  EXPECT_TRUE(env.namesSet.isEmpty());

  // Other items of the functions list leave the name alone; the marking follows versioning.
  env.archiveName = "/b/x.zip";
  lists.functionsList.Click(kFnVersioning);
  EXPECT_TRUE(lists.functionsList.Marking());
  EXPECT_EQ(env.archiveName, "/b/x.zip");
  lists.functionsList.Click(kFnVersioning);
  EXPECT_FALSE(lists.functionsList.Marking());
}

TEST_F(OptionRules, StampFormatsAndBase) {
  const QDateTime t(QDate(2003, 1, 3), QTime(15, 35));
  EXPECT_EQ(TOptionsController::DateTimeStamp(0, t), "-2003-Jan-03");
  EXPECT_EQ(TOptionsController::DateTimeStamp(1, t), "-2003-01-03");
  EXPECT_EQ(TOptionsController::DateTimeStamp(2, t), "-2003-Jan-03_1535");
  EXPECT_EQ(TOptionsController::DateTimeStamp(3, t), "-2003-01-03_1535");
  EXPECT_EQ(TOptionsController::DateTimeStamp(2, QDateTime(QDate(2010, 12, 9), QTime(7, 5))),
            "-2010-Dec-09_0705");
  EXPECT_EQ(TOptionsController::StampBase("/d/docs-2003-Jan-03_1535.zip"), "/d/docs");
  EXPECT_EQ(TOptionsController::StampBase("/d.x/docs"), "/d.x/docs");
  EXPECT_EQ(TOptionsController::StampBase("/d/a.b.zip"), "/d/a.b");
  EXPECT_EQ(TOptionsController::StampBase("/backup-2024/docs.zip"), "/backup-2024/docs");
}

TEST_F(OptionRules, HiddenItemsFollowItemTwo) {
  lists.directoryList.Click(kDirHidden);
  ASSERT_TRUE(env.hiddenShown.has_value());
  EXPECT_FALSE(*env.hiddenShown);
  lists.directoryList.Click(kDirHidden);
  EXPECT_TRUE(*env.hiddenShown);
}

TEST_F(OptionRules, SpanItemMovesOnlyTheBasicSizeList) {
  lists.sizeList.Click(kSizeCdr650);
  lists.firstDiskEdit.SetText("20");
  lists.directoryList.Click(kDirSpan);
  EXPECT_EQ(lists.basicSizeList.CheckedIndex(), kBasicSpan);
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeCdr650) << "nothing else changes";
  EXPECT_EQ(lists.maxSizeEdit.text(), "650");
  EXPECT_EQ(lists.firstDiskEdit.text(), "20");
  EXPECT_TRUE(lists.directoryList.ItemEnabled(kDirErase));
  lists.directoryList.Click(kDirSpan);
  EXPECT_EQ(lists.basicSizeList.CheckedIndex(), kBasicStandard);
}

TEST_F(OptionRules, BasicSizeListRunsTheSpanningRule) {
  // Basic view: choosing SPAN explains where the sizes are set.
  boxes.Answer(IDOK, kSpanInfo);
  lists.basicSizeList.Click(kBasicSpan);
  EXPECT_TRUE(lists.directoryList.Checked(kDirSpan));
  EXPECT_TRUE(host.ControlEnabled(ctl::kSizeCompressionGroup));
  // Archive on a fixed disk with "Automatic": no erasing, no volume-name switch.
  EXPECT_FALSE(lists.directoryList.Checked(kDirErase));
  EXPECT_FALSE(lists.directoryList.ItemEnabled(kDirErase));
  EXPECT_FALSE(lists.directoryList.Checked(kDirSpanNoVolume));
  EXPECT_FALSE(lists.directoryList.ItemEnabled(kDirSpanNoVolume));
  EXPECT_TRUE(lists.directoryList.ItemEnabled(kDirDirectoryFirstDisk));

  // Advanced view: no message; a part size checks and enables "Span No Volume Name".
  prefs.Set("Expert", true);
  {
    THandlersDetached d{&lists.sizeList};
    lists.sizeList.SetChecked(kSizeFloppy, true);
  }
  lists.basicSizeList.Click(kBasicStandard);
  EXPECT_FALSE(lists.directoryList.Checked(kDirSpan));
  EXPECT_TRUE(lists.directoryList.Checked(kDirSpanNoVolume));
  EXPECT_TRUE(lists.directoryList.ItemEnabled(kDirSpanNoVolume));

  // A directly writable removable disk enables items 6-8, so "Erase Disk First" can be ticked.
  env.directRemovable = true;
  lists.basicSizeList.Click(kBasicSpan);
  for (int i : {kDirErase, kDirSpanNoVolume, kDirDirectoryFirstDisk})
    EXPECT_TRUE(lists.directoryList.ItemEnabled(i)) << i;
  EXPECT_TRUE(lists.directoryList.Click(kDirErase));
  EXPECT_TRUE(lists.directoryList.Checked(kDirErase)) << "ticking Erase Disk First sticks";
  EXPECT_TRUE(lists.directoryList.Marking());
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeFloppy) << "ticking it resets nothing";

  // Before the window is shown the basic size list has no effect.
  env.windowShown = false;
  lists.basicSizeList.Click(kBasicStandard);
  EXPECT_TRUE(lists.directoryList.Checked(kDirSpan));
}

TEST_F(OptionRules, OtherDirectoryItemsResetSizesAndEraseDisk) {
  env.directRemovable = true;
  prefs.Set("Expert", true);
  lists.basicSizeList.Click(kBasicSpan);
  lists.directoryList.Click(kDirErase);
  lists.sizeList.Click(kSizeCdr650);
  lists.firstDiskEdit.SetText("12");
  ASSERT_TRUE(lists.directoryList.Marking());

  // While a backup runs the reset does not happen.
  env.runInProgress = true;
  lists.directoryList.Click(kDirEncrypt);
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeCdr650);
  EXPECT_TRUE(lists.directoryList.Checked(kDirErase));
  env.runInProgress = false;

  // Ticking "Encrypt ZIP" on "CDR 650Mb" puts the size list and both edits back.
  lists.directoryList.Click(kDirEncrypt);
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeAutomatic);
  EXPECT_EQ(lists.maxSizeEdit.text(), "MaxSizeMb");
  EXPECT_EQ(lists.firstDiskEdit.text(), "Disk#1Free");
  EXPECT_FALSE(lists.directoryList.Checked(kDirErase));
  EXPECT_FALSE(lists.directoryList.ItemEnabled(kDirErase));
  EXPECT_FALSE(lists.directoryList.Marking());
  EXPECT_TRUE(lists.directoryList.Checked(kDirSpan)) << "the spanning item is kept";
}

TEST_F(OptionRules, ArchiveViewListAvoidsTreeWithSearchResults) {
  lists.viewList.Click(kViewTree);
  EXPECT_EQ(lists.viewList.CheckedIndex(), kViewTree);
  EXPECT_EQ(IniFile(DefaultIni()).ReadInteger("Options", "VTreeDisplayMode", -1), 2);
  env.searchResults = true;
  lists.viewList.Click(kViewListDir);
  lists.viewList.Click(kViewTree);
  EXPECT_EQ(lists.viewList.CheckedIndex(), kViewList);
  EXPECT_EQ(IniFile(DefaultIni()).ReadInteger("Options", "VTreeDisplayMode", -1), 0);
}

TEST_F(OptionRules, MonitorSubDirectoriesIsSavedAtOnce) {
  lists.stealthList.Click(kStealthMonitorSubDirs);
  EXPECT_TRUE(IniFile(DefaultIni()).ReadBool("Options", "DirMon", false));
  lists.stealthList.Click(kStealthMonitorSubDirs);
  EXPECT_FALSE(IniFile(DefaultIni()).ReadBool("Options", "DirMon", true));
}

TEST_F(OptionRules, WindowModes) {
  const char* archiveOps[] = {ctl::kZipTestItem, ctl::kExtractButton, ctl::kDeleteButton,
                              ctl::kConvertItem};
  options.Setstate(3);
  EXPECT_TRUE(options.MakeMode());
  EXPECT_FALSE(host.ControlEnabled(ctl::kArchiveView));
  for (const char* c :
       {ctl::kAddToZipButton, ctl::kSaveJobButton, ctl::kPauseButton, ctl::kSizeCompressionGroup})
    EXPECT_TRUE(host.ControlEnabled(c)) << c;
  EXPECT_TRUE(lists.maxSizeEdit.enabled());
  for (const char* c : archiveOps) EXPECT_FALSE(host.ControlEnabled(c)) << c;
  EXPECT_TRUE(modeHost.checkBoxes.value_or(false));

  lists.directoryList.Click(kDirEncrypt);  // disables "Erase Disk First"
  ASSERT_FALSE(lists.directoryList.ItemEnabled(kDirErase));
  options.Setstate(0);
  EXPECT_FALSE(host.ControlEnabled(ctl::kSizeCompressionGroup));
  EXPECT_FALSE(modeHost.zip64.value_or(true));
  EXPECT_TRUE(lists.directoryList.ItemEnabled(kDirErase));
  EXPECT_FALSE(modeHost.checkBoxes.value_or(true));
  EXPECT_FALSE(host.ControlEnabled(ctl::kGetZipButton));
  EXPECT_TRUE(host.ControlEnabled(ctl::kArchiveView));
  EXPECT_EQ(host.ControlCaption(ctl::kSizeCalcEdit), "FILE Size");
  EXPECT_FALSE(host.ControlEnabled(ctl::kPauseButton));
  EXPECT_FALSE(host.ControlVisible(ctl::kGetZipItem));
  const QStringList resets{
      "ClearArchiveSearchResults", "ClearArchiveView",  "ClearStatusBar",
      "ResetTrayStealthFlag",      "SetTrayIconStatic", "ResetGlobalSearchFlag"};
  EXPECT_EQ(modeHost.calls, resets);
  EXPECT_TRUE(options.MakeMode()) << "mode 0 leaves the make flag as it was";

  options.Setstate(1);
  EXPECT_FALSE(options.MakeMode());
  for (const char* c : archiveOps) EXPECT_TRUE(host.ControlEnabled(c)) << c;
  EXPECT_TRUE(host.ControlEnabled(ctl::kZipFixItem));

  host.SetControlEnabled(ctl::kReportBox, false);
  options.Setstate(2);
  EXPECT_TRUE(host.ControlEnabled(ctl::kReportBox));
  EXPECT_EQ(options.state(), 2);
  options.Setstate(7);
  EXPECT_EQ(options.state(), 2) << "unknown modes change nothing";
}

TEST_F(OptionRules, ExpertModeHighlightsTheChosenViewAndIsSaved) {
  options.ExpertModeClick(true);
  EXPECT_TRUE(host.ControlChecked(ctl::kAdvancedItem));
  EXPECT_FALSE(host.ControlChecked(ctl::kBasicItem));
  EXPECT_TRUE(modeHost.groupHighlight.value(ctl::kAdvancedGroup));
  EXPECT_FALSE(modeHost.groupHighlight.value(ctl::kBasicGroup, true));
  EXPECT_TRUE(IniFile(DefaultIni()).ReadBool("Options", "Expert", false));
  EXPECT_TRUE(options.Advanced());
  options.ExpertModeClick(false);
  EXPECT_TRUE(modeHost.groupHighlight.value(ctl::kBasicGroup));
  EXPECT_FALSE(IniFile(DefaultIni()).ReadBool("Options", "Expert", true));
}
