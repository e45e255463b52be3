// From the selection and the inclusion grid to what the zip engine is given: its file list, its
// exclude list and its no-compress list; plus the date filter and the size calculator's texts.
//
// Folder entries are a folder path with a trailing "/" followed by one INCLUDE pattern (or
// "*.*"); the engine expands them. Paths are byte strings; patterns are passed on in UTF-8.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "app/inclusiongrid.h"

struct EngineLists {
  std::vector<std::string> files;       // the engine's file list
  std::vector<std::string> exclude;     // the engine's exclude list
  std::vector<std::string> noCompress;  // the engine's no-compress list
  QStringList include;                  // the INCLUDE list
  bool allFiles = false;                // an INCLUDE cell is exactly "*.*"
  std::vector<std::string> sources;     // the sources used (for the report)
  // Ticked files the INCLUDE filter (ParseAddFiles) dropped, in the order they were looked at.
  std::vector<std::string> notIncluded;
};

// The messages a run refuses to start with.
extern const QString kNoFilesCheckedText;
extern const QString kNoIncludeText;

// Reads rows 1-29 of the grid into the lists (trimmed, non-empty cells, row order); empties
// everything first.
void ReadGridLists(const TInclusionGrid& grid, EngineLists& lists);

// The INCLUDE filter for a ticked file: the path when it is kept, "" when dropped.
std::string ParseAddFiles(const std::string& path, const QStringList& include);

// The whole conversion: grid, then sources (the ticked paths, or the highlighted ones when
// nothing is ticked and no restore point is asked for), each source from the last to the first.
EngineLists BuildEngineLists(const TInclusionGrid& grid, const std::vector<std::string>& ticked,
                             const std::vector<std::string>& highlighted, bool restorePoint);

// The refusal of a run before anything is built: kNoFilesCheckedText when there are no sources,
// kNoIncludeText when INCLUDE row 1 is empty; "" when the run may go on.
QString SelectionPrecondition(const TInclusionGrid& grid, const std::vector<std::string>& ticked,
                              const std::vector<std::string>& highlighted);

// For stealth, hotkey and instant backups: appends the non-empty EXCLUDE and NOCOMP cells of
// rows 1-29 (untrimmed) to the lists; with stealthExclZip and no EXCLUDE cell holding "*.ZIP",
// "*.zip" is excluded too. Returns true when an EXCLUDE cell holds "*.ZIP" (any case).
bool DoZipExcludeList(const TInclusionGrid& grid, bool stealthExclZip,
                      std::vector<std::string>& exclude, std::vector<std::string>& noCompress);

// The date filter: 0 "No date filter", 1 "All before", 2 "All after".
enum DateFilterMode { NoDateFilter = 0, AllBefore = 1, AllAfter = 2 };
// A DOS date-time (date in the high 16 bits) as local time; invalid for an impossible value.
QDateTime DosDateTimeToQt(uint32_t dos);
// True when a file of that DOS time is to be skipped under the filter with the picker's value.
bool DateFilterSkips(int mode, uint32_t fileDosTime, const QDateTime& picker);

// Size calculator: bytes as MB (millions, rounded); the expected archive size text for a
// measured MB and the compression item (0 "Max", 1 "Low", 2 "None"), e.g. "556zMb".
int64_t BytesToMb(uint64_t bytes);
QString ExpectedSizeText(int64_t measuredMb, int compressionIndex);
// The status texts of a measurement: count + " DIR&files" and "Total size: " + MB + " Mb".
QString SizeCountText(int64_t count);
QString SizeTotalText(int64_t mb);
