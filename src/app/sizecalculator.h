// The selected-files size calculator of the status bar: measures the selection and shows the
// expected archive size ("556zMb" for 1000 MB with "Max").
//
// Counting itself is the backup run in counting mode, given as Counter; until that is wired,
// CountEngineLists walks the engine's file list directly.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/sourcelists.h"

class TCheckStore;

struct SizeCount {
  int64_t files = 0;
  uint64_t bytes = 0;
};

// What the calculator shows and changes on the window.
class ISizeCalcHost {
 public:
  virtual ~ISizeCalcHost() = default;
  virtual void SetSizeEditText(const QString& text) = 0;
  virtual void SetSizeButtonEnabled(bool enabled) = 0;
  virtual void ClearStatusBar() = 0;
  // The measurement in the status bar: count + " DIR&files" and "Total size: " + MB + " Mb".
  virtual void ShowSizeCount(const QString& countText, const QString& totalText) = 0;
  virtual void GaugeClear() = 0;
  // The current archive name ("" when none).
  virtual QString ArchiveName() const = 0;
  // The compression list's checked item (0 "Max", 1 "Low", 2 "None").
  virtual int CompressionIndex() const = 0;
};

class TSizeCalculator : public QObject {
  Q_OBJECT
 public:
  TSizeCalculator(ISizeCalcHost& host, TCheckStore& store, QObject* parent = nullptr);

  // Counts the selection; scratchName is the archive name the engine must use instead of the
  // real one (so an existing archive is not touched), "" to use the real one. nullopt: stopped
  // or failed.
  std::function<std::optional<SizeCount>(const QString& scratchName)> Counter;

  // The size calculator button.
  void SizeCalcClick();
  // The compression list changed: a shown result is recomputed.
  void CompressionChanged();
  // A tick changed: a shown result is withdrawn.
  void TicksChanged();

  bool SizeCalcMode() const { return sizeCalcMode_; }
  int64_t SizeResultMb() const { return sizeResultMb_; }

 private:
  ISizeCalcHost& host_;
  TCheckStore& store_;
  bool sizeCalcMode_ = false;
  int64_t sizeResultMb_ = 0;
};

// Walks the engine's file list: a folder entry ("folder/pattern") takes the files of the folder
// whose names match the pattern (case-insensitive wildcards), descending into sub-folders when
// recurse is on; a plain entry is one file. Files matching an exclude pattern are left out.
SizeCount CountEngineLists(const EngineLists& lists, bool recurse);
