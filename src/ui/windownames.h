// The control names of the main window that only the window's own code addresses: pages,
// views, panels and the command controls the bindings connect. (The names the subsystems
// address are in app/optionnames.h, backup/backuphosts.h, backup/reporthosts.h and
// restore/archiveviewhosts.h.) Every name is the objectName of its widget, action or menu.
#pragma once

#include "app/optionnames.h"

namespace ctl {

// Pages.
inline constexpr const char* kPages = "PageControl1";      // "Browser", "Make", "Archive"
inline constexpr const char* kMakePages = "PageControl2";  // "ZIP", "Report /ZIP Comment ..."
inline constexpr const char* kReportPage = "TabReport";
inline constexpr const char* kArchivePage = "TabArchive";
// The note under the archive view about the open archive (a damaged directory).
inline constexpr const char* kArchiveNote = "ArchiveNoteLabel";

// Views, panels and editors.
inline constexpr const char* kExplorerTree = "ExplorerTree";
inline constexpr const char* kExplorerList = "ExplorerList";
inline constexpr const char* kInclusionGrid = "InclusionGrid";
inline constexpr const char* kGauge = "Gauge";
inline constexpr const char* kDiscImage = "DiscImage";
inline constexpr const char* kZip64Label = "Zip64Label";
inline constexpr const char* kSearchBox = "ComboBox1";
inline constexpr const char* kDateFilterNone = "DateFilterNone";
inline constexpr const char* kDateFilterPicker = "DateFilterPicker";
inline constexpr const char* kSchedTime = "SchedTime";
inline constexpr const char* kSchedJobFile = "SchedJobFile";
// The scheduler's day boxes, Sunday first.
inline constexpr const char* kSchedDays[] = {"SchedSunday",    "SchedMonday",   "SchedTuesday",
                                             "SchedWednesday", "SchedThursday", "SchedFriday",
                                             "SchedSaturday"};
// "Run missed backups", the stale limit in days and "Notify good unattended backups too".
inline constexpr const char* kSchedRunMissed = "SchedRunMissed";
inline constexpr const char* kSchedStaleDays = "SchedStaleDays";
inline constexpr const char* kNotifySuccess = "SchedNotifySuccess";
inline constexpr const char* kContextHelpButton = "ContextHelpButton";
inline constexpr const char* kArchiveTabFlash = "ArchiveTabFlash";  // the tab's flash timer
inline constexpr const char* kGeneralTimer = "Timer1";
inline constexpr const char* kSchedulerTimer = "SchedTimer";
inline constexpr const char* kTrayIcon = "TrayIcon1";

// Popup menus.
inline constexpr const char* kReportPopup = "PopupReport";
inline constexpr const char* kTreePopup = "PopupTree";
inline constexpr const char* kListPopup = "PopupList";
inline constexpr const char* kGridPopup = "PopupGrid";
inline constexpr const char* kArchivePopup = "PopupArchive";
inline constexpr const char* kTrayPopup = "PopupTray";

// Menu items.
inline constexpr const char* kFileMenu = "File1";
inline constexpr const char* kNewZipItem = "NewZip1";
// The "Mo&Zilla backup" presets by kind 1-4.
inline constexpr const char* kPresetItems[] = {"MozAllData1", "ThunderbirdAllData1",
                                               "ThunderbirdProfile1", "FirefoxProfile1"};
inline constexpr const char* kRestoreItem = "Restore1";
inline constexpr const char* kOpenJobItem = "OpenJob1";
inline constexpr const char* kModifyJobItem = "ModifyJob1";
inline constexpr const char* kSaveJobItem = "SaveJob1";
inline constexpr const char* kClearHistoryItem = "ClearHistory1";
inline constexpr const char* kExitItem = "Exit1";
inline constexpr const char* kViewCommentItem = "Zipcomment1";
inline constexpr const char* kSetDefaultItem = "SetDefault1";
inline constexpr const char* kToolsCommentItem = "ZIPcomment1";
inline constexpr const char* kHelpItem = "HelpContents1";
inline constexpr const char* kAboutItem = "About1";
// Popup items.
inline constexpr const char* kSaveReportItem = "SaveReport1";
inline constexpr const char* kClearCommentsItem = "ClearComments1";
inline constexpr const char* kTreeClearItem = "TreeClearSelected1";
inline constexpr const char* kTreeProgramDirItem = "TreeProgramDIR1";
inline constexpr const char* kTidyGridItem = "TidyGrid1";
inline constexpr const char* kClearGridItem = "ClearGrid1";
inline constexpr const char* kExtractSelectedOverwriteItem = "ExtractSelectedOverWrite1";
inline constexpr const char* kExtractSelectedNoOverwriteItem = "ExtractSelectedNoOverwrite1";
inline constexpr const char* kExtractAllOverwriteItem = "ExtractAllOverwrite1";
inline constexpr const char* kExtractAllNoOverwriteItem = "ExtractAllNoOverwrite1";
inline constexpr const char* kGotoFirstItem = "GotoFirst1";
inline constexpr const char* kGotoLastItem = "GotoLast1";
inline constexpr const char* kClearSelectedItem = "ClearSelected1";
inline constexpr const char* kNameToFilenameItem = "NameToFilename1";
inline constexpr const char* kOpenEntryItem = "Open1";
inline constexpr const char* kDeleteSelectedItem = "DeleteSelected1";
inline constexpr const char* kTrayExitItem = "TrayExit1";
inline constexpr const char* kTrayHelpItem = "TrayHelpContents1";
inline constexpr const char* kTrayAboutItem = "TrayAbout1";
inline constexpr const char* kTrayRestoreItem = "TrayRestore1";
inline constexpr const char* kDefineHotKeyItem = "DefineHotKey1";
inline constexpr const char* kBugReportItem = "BugReport1";
inline constexpr const char* kInformationRequestItem = "InformationRequest1";
// "Browser Functions" of the explorer tree's and list's popups.
inline constexpr const char* kTreeOpenItem = "TreeBrowserOpen1";
inline constexpr const char* kTreeShowItem = "TreeShowInFileManager1";
inline constexpr const char* kListOpenItem = "ListBrowserOpen1";
inline constexpr const char* kListShowItem = "ListShowInFileManager1";

// Buttons.
inline constexpr const char* kOpenArchiveButton = "ZipOpenBut";
inline constexpr const char* kOpenJobButton = "OpenCbutton";
inline constexpr const char* kNewZipButton = "NewZipBut";
inline constexpr const char* kNewExeButton = "NewEXEBut";
inline constexpr const char* kMakeDefaultButton = "MakeDefaultBtn";
inline constexpr const char* kStealthDefineButton = "StealthDefineBtn";
inline constexpr const char* kStealthStartButton = "StealthStartBtn";
inline constexpr const char* kSchedOpenJobButton = "SchedOpenJobBtn";
inline constexpr const char* kSchedSetButton = "SchedSetBtn";
inline constexpr const char* kSchedForgetButton = "SchedForgetBtn";
// The buttons beside the "MaxSizeMb" and "Disk#1Free" edits.
inline constexpr const char* kMaxSizeButton = "ComboEdit1Button";
inline constexpr const char* kFirstDiskButton = "ComboEdit2Button";
inline constexpr const char* kCheckUpdateItem = "Check4Update1";
inline constexpr const char* kAbortButton = "AbortBut";
inline constexpr const char* kGlobalButton = "GlobalBtn";
inline constexpr const char* kRepeatButton = "GrepeatBtn";

}  // namespace ctl
