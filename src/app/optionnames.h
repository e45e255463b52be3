// Names of the controls the option lists, window modes and settings address through
// IControlHost (each is the objectName of the widget in the main window), and the item
// positions of the option lists.
#pragma once

namespace ctl {

// Option lists (models carry these names; the views use them as objectName).
inline constexpr const char* kSizeList = "SizeList";
inline constexpr const char* kCompressionList = "CompressionList";
inline constexpr const char* kModeList = "ModeList";
inline constexpr const char* kDirectoryList = "DirectoryList";
// How "Encrypt ZIP (password required)" encrypts, and the note beside it.
inline constexpr const char* kEncryptionList = "EncryptionList";
inline constexpr const char* kEncryptionNote = "EncryptionNote";
inline constexpr const char* kFunctionsList = "FunctionsList";
inline constexpr const char* kBasicList = "BasicList";
inline constexpr const char* kBasicStampList = "BasicStampList";
inline constexpr const char* kBasicSizeList = "BasicSizeList";
inline constexpr const char* kStealthList = "StealthList";
inline constexpr const char* kViewList = "CheckListBox11";
inline constexpr const char* kExtractOptionList = "ExtractOptionsList";
inline constexpr const char* kExtractModeList = "ExtractModeList";
// The two size edits (models carry these names too).
inline constexpr const char* kMaxSizeEdit = "ComboEdit1";
inline constexpr const char* kFirstDiskEdit = "ComboEdit2";

// Groups.
inline constexpr const char* kAdvancedGroup = "GroupAdvanced";
inline constexpr const char* kSizeCompressionGroup = "GroupSizeCompression";
inline constexpr const char* kBasicGroup = "GroupBasic";

// Buttons, labels and other widgets switched by the window modes.
inline constexpr const char* kGetZipButton = "GetZBtn1";
inline constexpr const char* kArchiveView = "ArchiveView";
inline constexpr const char* kSizeCalcEdit = "SizeCalcEdit";
inline constexpr const char* kPauseButton = "PauseBtn";
inline constexpr const char* kGetZipItem = "GetZIP1";  // hidden item of the archive view's popup
inline constexpr const char* kZipTestItem = "ZIPtest1";
inline constexpr const char* kExtractButton = "ExtractBut";
inline constexpr const char* kDeleteButton = "DeleteBut";
inline constexpr const char* kConvertItem = "ConvertZIPtoEXE1";
inline constexpr const char* kZipFixItem = "ZIPfix1";
inline constexpr const char* kReportBox = "ReportBox";
inline constexpr const char* kAddToZipButton = "AddBut";
inline constexpr const char* kSaveJobButton = "SaveCbtn";
inline constexpr const char* kSizeCalcButton = "SizeCalcBtn";

// Menu items and check boxes that show preferences.
inline constexpr const char* kBasicItem = "Basic1";
inline constexpr const char* kAdvancedItem = "Advanced1";
inline constexpr const char* kStartMinimisedItem = "StartMinimised1";
inline constexpr const char* kStartUpItem = "StartUp1";
inline constexpr const char* kMinToTrayItem = "MinimiseToTray1";
inline constexpr const char* kThemeManagerItem = "ThemeManager1";
inline constexpr const char* kPromptEraseItem = "PromptEraseFiles1";
inline constexpr const char* kNoPromptEraseItem = "NoPromptEraseFiles1";
inline constexpr const char* kTempDefaultItem = "TempDefault1";
inline constexpr const char* kTempSelectItem = "SetTempDIR1";
inline constexpr const char* kCheckSpaceItem = "CheckSpace1";
// The "DateTimeFormat" items by tag 0-3.
inline constexpr const char* kDateTimeFormatItems[] = {"MonDate1", "NumDate1", "MonDateTime1",
                                                       "NumDateTime1"};
inline constexpr const char* kFullReportItem = "FullReport1";
inline constexpr const char* kProgramDirItem = "ProgramDIR1";
inline constexpr const char* kBackupDirItem = "BackupDIR1";
// The "Archive SortBy" items by tag 0-5.
inline constexpr const char* kSortByItems[] = {"SortByFilename1", "SortByFilenameDesc1",
                                               "SortBySize1",     "SortBySizeDesc1",
                                               "SortByDateTime1", "SortByDateTimeDesc1"};
inline constexpr const char* kDisplayEmptyDirItem = "DisplayEmptyDir1";
inline constexpr const char* kPromptSkipOpenFilesItem = "PromptSkipOpenFiles1";
inline constexpr const char* kSchedPromptItem = "SchedBackupPrompt1";
inline constexpr const char* kStealthEnableItem = "StealthEnable1";
inline constexpr const char* kStealthExclZipItem = "StealthExclZIP1";
inline constexpr const char* kStealthAtStartUpItem = "StealthAtStartUp1";
inline constexpr const char* kMinimizeOnLoadItem = "MinimizeOnLoad1";
inline constexpr const char* kAutoRenameOnSizeItem = "AutoRenameOnSize1";
inline constexpr const char* kHintsItem = "Hints1";
inline constexpr const char* kContextHelpItem = "ContextHelp1";  // the last main-menu item
inline constexpr const char* kLargeFontsBox = "LargeFontsCheck";
inline constexpr const char* kQuickSearchBox = "QuickSearchCheck";

}  // namespace ctl

// Item positions.
namespace opt {
enum SizeItem { kSizeAutomatic, kSizeCdr650, kSizeFloppy, kSizeCdrw540, kSizeDvd };
enum CompressionItem { kCompMax, kCompLow, kCompNone };
enum ModeItem {
  kModeCopy,
  kModeCopyClear,
  kModeBitSet,
  kModeBitSetClear,
  kModeUpdate,
  kModeRefresh,
  kModeMove
};
enum DirectoryItem {
  kDirEncrypt,
  kDirVolumeNames,
  kDirHidden,
  kDirRecursion,
  kDirEmptyDirs,
  kDirSpan,
  kDirErase,
  kDirSpanNoVolume,
  kDirDirectoryFirstDisk,
  // Kept in a job's settings as "FollowLinks" of its own, outside the "OptCheck2" mask.
  kDirFollowLinks
};
// The encryption list; stored in a job's settings as "EncryptionMethod" with the item's text.
enum EncryptionItem { kEncAes256, kEncTraditional };
enum FunctionsItem { kFnStamp, kFnVersioning, kFnUnattended, kFnShutdown, kFnVerify, kFnRestore };
enum BasicItem { kBasicAll, kBasicChanged, kBasicRefresh, kBasicUpdate };
enum BasicSizeItem { kBasicStandard, kBasicSpan };
enum StealthItem { kStealthStamp, kStealthMonitorSubDirs };
enum ViewItem { kViewList, kViewListDir, kViewTree };
// The extraction option "Links as stored" (restore::extractopt::kLinksAsStored), kept as the
// preference "ExtractLinksAsStored".
inline constexpr int kExtractLinksAsStored = 4;
}  // namespace opt
