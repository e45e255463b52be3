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
inline constexpr const char* kFunctionsList = "FunctionsList";
inline constexpr const char* kBasicList = "BasicList";
inline constexpr const char* kBasicStampList = "BasicStampList";
inline constexpr const char* kBasicSizeList = "BasicSizeList";
inline constexpr const char* kStealthList = "StealthList";
inline constexpr const char* kViewList = "ViewList";
inline constexpr const char* kExtractOptionList = "ExtractOptionList";
inline constexpr const char* kExtractModeList = "ExtractModeList";
// The two size edits (models carry these names too).
inline constexpr const char* kMaxSizeEdit = "MaxSizeEdit";
inline constexpr const char* kFirstDiskEdit = "FirstDiskEdit";

// Groups.
inline constexpr const char* kAdvancedGroup = "AdvancedGroup";
inline constexpr const char* kSizeCompressionGroup = "SizeCompressionGroup";
inline constexpr const char* kBasicGroup = "BasicGroup";

// Buttons, labels and other widgets switched by the window modes.
inline constexpr const char* kGetZipButton = "GetZIPButton";
inline constexpr const char* kArchiveView = "ArchiveView";
inline constexpr const char* kSizeCalcEdit = "SizeCalcEdit";
inline constexpr const char* kPauseButton = "PauseButton";
inline constexpr const char* kGetZipItem = "GetZIPItem";  // hidden item of the archive view's popup
inline constexpr const char* kZipTestItem = "ZIPtestItem";
inline constexpr const char* kExtractButton = "ExtractButton";
inline constexpr const char* kDeleteButton = "DeleteButton";
inline constexpr const char* kConvertItem = "ConvertZIPtoEXEItem";
inline constexpr const char* kZipFixItem = "ZIPfixItem";
inline constexpr const char* kReportBox = "ReportBox";
inline constexpr const char* kAddToZipButton = "AddToZIPButton";
inline constexpr const char* kSaveJobButton = "SaveJobButton";

// Menu items and check boxes that show preferences.
inline constexpr const char* kBasicItem = "BasicItem";
inline constexpr const char* kAdvancedItem = "AdvancedItem";
inline constexpr const char* kStartMinimisedItem = "StartMinimisedItem";
inline constexpr const char* kStartUpItem = "StartUpItem";
inline constexpr const char* kMinToTrayItem = "MinimiseToTrayItem";
inline constexpr const char* kThemeManagerItem = "ThemeManagerItem";
inline constexpr const char* kPromptEraseItem = "PromptEraseFilesItem";
inline constexpr const char* kNoPromptEraseItem = "NoPromptEraseFilesItem";
inline constexpr const char* kTempDefaultItem = "TempDefaultItem";
inline constexpr const char* kTempSelectItem = "TempSelectItem";
inline constexpr const char* kCheckSpaceItem = "CheckSpaceItem";
// "DateTimeFormat" items carry tags 0-3: kDateTimeFormatItem + tag ("DateTimeFormatItem0", ...).
inline constexpr const char* kDateTimeFormatItem = "DateTimeFormatItem";
inline constexpr const char* kFullReportItem = "FullBackupReportItem";
inline constexpr const char* kProgramDirItem = "ProgramDIRItem";
inline constexpr const char* kBackupDirItem = "BackupDIRItem";
// "Archive SortBy" items carry tags 0-5: kSortByItem + tag ("SortByItem0", ...).
inline constexpr const char* kSortByItem = "SortByItem";
inline constexpr const char* kDisplayEmptyDirItem = "DisplayEmptyDirItem";
inline constexpr const char* kPromptSkipOpenFilesItem = "PromptSkipOpenFilesItem";
inline constexpr const char* kSchedPromptItem = "SchedBackupPromptItem";
inline constexpr const char* kStealthEnableItem = "StealthEnableItem";
inline constexpr const char* kStealthExclZipItem = "StealthExclZIPItem";
inline constexpr const char* kStealthAtStartUpItem = "StealthAtStartUpItem";
inline constexpr const char* kMinimizeOnLoadItem = "MinimizeOnLoadItem";
inline constexpr const char* kAutoRenameOnSizeItem = "AutoRenameOnSizeItem";
inline constexpr const char* kHintsItem = "HintsItem";
inline constexpr const char* kContextHelpItem = "ContextHelpItem";  // the last main-menu item
inline constexpr const char* kLargeFontsBox = "LargeFontsBox";
inline constexpr const char* kQuickSearchBox = "QuickSearchBox";

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
  kDirDirectoryFirstDisk
};
enum FunctionsItem { kFnStamp, kFnVersioning, kFnUnattended, kFnShutdown, kFnVerify, kFnRestore };
enum BasicItem { kBasicAll, kBasicChanged, kBasicRefresh, kBasicUpdate };
enum BasicSizeItem { kBasicStandard, kBasicSpan };
enum StealthItem { kStealthStamp, kStealthMonitorSubDirs };
enum ViewItem { kViewList, kViewListDir, kViewTree };
}  // namespace opt
