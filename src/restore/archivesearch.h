// Finding files by name: inside the open archive (Enter in the search box walks the matching
// entries), across every archive of one folder (the global search, whose results replace the
// archive view's rows), and the quick search on keys typed into the archive view. Patterns are
// the engine's wildcards, matched against the file name part of each entry only.
//
// The search box keeps a history of patterns in section "ComboBox1" of the default file, one
// key per pattern; characters that would break a key (and blanks at its ends) are stored as %XX.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "restore/archiveentries.h"
#include "restore/archiveviewhosts.h"

class IControlHost;
class TArcUnZip;
class TPreferences;

namespace restore {

class TArchiveViewController;

namespace searchmsg {
inline constexpr const char* kPlaceholder = "File(wildcard*.*)";
inline constexpr const char* kEnterFilename = "Enter Filename";
inline constexpr const char* kFolderTitle = "Global Search Folder";
inline constexpr const char* kNoMatches = "No Matches found!";
inline constexpr const char* kFirstClick = "First click [Global Find]";
inline constexpr const char* kSelectionError = "Selection/File error";
inline constexpr const char* kHistorySection = "ComboBox1";
}  // namespace searchmsg

// The search box and the search's dialogs as the window shows them.
class ISearchBoxHost {
 public:
  virtual ~ISearchBoxHost() = default;
  virtual QString SearchText() const = 0;
  // Puts text into the box with the caret at its end.
  virtual void SetSearchText(const QString& text) = 0;
  virtual void SelectSearchText() = 0;
  // The box's drop-down list.
  virtual void SetHistoryItems(const QStringList& items) = 0;
  // The folder dialog; "" when cancelled.
  virtual QString ChooseFolder(const QString& title, const QString& initialDir) = 0;
  // Returns once the space key is up (dispatching events meanwhile).
  virtual void WaitForSpaceRelease() {}
  // The gauge of a global search: done of total archives.
  virtual void SearchProgress(int /*done*/, int /*total*/) {}
};

// The results of a global search: one record per matching entry. The entries' columns are in
// the snapshot given to the view (record k in slot k); the archive of each record is an index
// into the list of archive names, so every name is stored once.
struct TSearchResults {
  std::shared_ptr<TArchiveEntries> entries = std::make_shared<TArchiveEntries>();
  std::vector<int32_t> archiveOf;
  QStringList archives;
  int count() const { return entries->count(); }
};

class TArchiveSearch : public QObject, public ISearchResultsView {
  Q_OBJECT
 public:
  TArchiveSearch(TArcUnZip& zip, TArchiveViewController& view, IArchiveWindow& window,
                 IControlHost& controls, TPreferences& prefs, ISearchBoxHost& box,
                 QObject* parent = nullptr);
  ~TArchiveSearch() override;

  // ---- the search box ----
  // A key pressed in the box: Enter searches the open archive, Ctrl+Space ticks the row found
  // last. key is a Qt::Key.
  void ComboBox1KeyDown(int key, bool ctrl);
  // An item chosen from the list: becomes the pattern; with Ctrl held it leaves the history.
  void ComboBox1Click(int index);
  // The list is about to open: the history is read again from the default file.
  void ComboBox1DropDown();
  // Double click: selects the text; with Ctrl held the whole history is cleared.
  void ComboBox1DblClick();
  const QStringList& History() const { return history_; }
  // Reads the history from the default file into the box.
  void LoadHistory();

  // ---- the global search ----
  // "&Global": asks for the folder (unless repeating) and searches every archive in it.
  void Gdir1Click();
  // "F3": the global search again in the remembered folder.
  void GrepeatClick();
  // "&GetZIP" and "Get ZIP": opens the archive of the first chosen result row.
  void GetZBtn1Click();
  // The abort button: a running global search ends after the current archive.
  void Abort();
  bool Running() const { return running_; }
  // The global mark: set by a global search, kept while its results show; reading answers a
  // damaged archive by salvaging what it can while it is set.
  bool GlobalMark() const { return globalMark_; }
  void ResetGlobalMark() { globalMark_ = false; }
  // Empties the result list (idle mode, closing).
  void ClearResults();
  const TSearchResults* Results() const { return results_.get(); }

  // ---- quick search ----
  // Text typed into the archive view at time nowMs (milliseconds): collected until 3000 ms pass
  // without a key, it finds the first row whose column-0 text starts with it (upper case).
  // False when the quick search is off.
  bool VTree1IncrementalSearch(const QString& typed, int64_t nowMs);
  bool VTree1IncrementalSearch(const QString& typed);

  // ---- ISearchResultsView ----
  bool SearchResultsShown() const override;
  bool ResultEntry(int record, QString& archive, int& entry) const override;

  // The archives a global search reads in folder: regular files directly in it whose name ends
  // in ".zip" in any case, in name order.
  static QStringList ArchivesIn(const QString& folder);
  // A pattern as a history key and back.
  static QString EncodeKey(const QString& pattern);
  static QString DecodeKey(const QString& key);

 private:
  void Remember(const QString& pattern);
  void SaveKey(const QString& pattern, bool add);
  void SearchWithin();
  void ToggleLastFound();
  void SearchFolder(const QString& folder, const QString& pattern);
  void Dispatch();

  TArcUnZip& zip_;
  TArchiveViewController& view_;
  IArchiveWindow& window_;
  IControlHost& controls_;
  TPreferences& prefs_;
  ISearchBoxHost& box_;
  QStringList history_;
  QString lastText_;
  int lastFound_ = -1;
  QPersistentModelIndex lastRow_;
  bool globalMark_ = false;
  bool repeat_ = false;
  bool running_ = false;
  bool abort_ = false;
  std::unique_ptr<TSearchResults> results_;
  QElapsedTimer sinceDispatch_;
  QString typed_;
  int64_t lastKeyMs_ = -1;
  QElapsedTimer keyClock_;
};

}  // namespace restore
