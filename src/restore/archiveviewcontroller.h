// The archive view's commands: opening an archive (from the open dialog, the explorer list or by
// name), filling the view in its three presentations, sorting, ticks and highlight, turning the
// chosen rows into the engine's selection, and opening one entry with the desktop.
#pragma once

#include <QItemSelectionModel>
#include <QObject>
#include <QString>
#include <memory>

#include "restore/archiveviewhosts.h"
#include "restore/archiveviewmodel.h"
#include "restore/entryextractor.h"

class IControlHost;
class TArcUnZip;
class TOptionLists;
class TPreferences;

namespace restore {

class TArchiveViewController : public QObject {
  Q_OBJECT
 public:
  struct Hosts {
    IArchiveWindow& window;
    IControlHost& controls;
    IFileDialogHost& dialogs;
    ISearchResultsView& search;
    IDesktopLauncher& desktop;
    IEntryExtractor* extractor = nullptr;  // nullptr: the engine's ExtractSelected
  };

  TArchiveViewController(TArcUnZip& zip, TOptionLists& lists, TPreferences& prefs, Hosts hosts,
                         QObject* parent = nullptr);
  ~TArchiveViewController() override;

  // The view widget (it registers itself; until then nothing is shown).
  void SetDisplay(IArchiveViewDisplay* display);

  TArchiveViewModel& model() { return model_; }
  // Highlight and focus of the view's rows; the widget uses this selection model.
  QItemSelectionModel& selection() { return selection_; }

  // ---- opening ----
  // "&Restore": chooses an archive and opens it.
  void ZipOpenButClick();
  // Double click on a file of the explorer list: archives and jobs open, other files are ignored.
  void VETlistDblClick(const QString& file);
  // Opens the named archive and shows it. Returns false when it could not be read.
  bool ReadZipFile(const QString& name);
  // Empties the view (window mode "idle").
  void ClearArchiveView() {
    ClearView();
    hosts_.window.ShowArchiveNote(QString());
  }
  // Fills the view from the open archive in the checked presentation.
  void PopulateArchiveView();
  // Shows the results of an archive search as a list (record k in slot k of results); rows then
  // refer to the records, "Treeview" is refused and "Open" asks the search for the archive.
  void ShowSearchResults(std::shared_ptr<const TArchiveEntries> results);
  // The folder remembered from the last open dialog and the remembered path.
  const QString& ArchiveFolder() const { return archiveFolder_; }
  const QString& RememberedPath() const { return rememberedPath_; }
  void SetRememberedPath(const QString& path) { rememberedPath_ = path; }

  // ---- presentation, sorting, preferences ----
  // The "Views and Expedite" list changed to mode (0 Listview, 1 ListviewDIR, 2 Treeview).
  void CheckListBox11StateChange(int mode);
  int ShownMode() const { return shownMode_; }
  static TColumnLayout ColumnLayout(int mode, bool multiVolume);
  void VTree1HeaderClick(int column);
  // "Archive SortBy" item with tag 0..5.
  void SortBy1Click(int tag);
  // Applies the standing sort order of "ArchiveSortBy".
  void SetSortColumns();
  void DisplayEmptyDir1Click();
  void LargeFonts1Click(bool checked);
  // The font size of the "LargeFonts" preference (after loading the settings).
  void ApplyLargeFonts();

  // ---- ticks, highlight, popup ----
  // Space in the view: toggles the tick of every highlighted row.
  void VTree1KeyAction();
  void GotoFirst1Click();
  void GotoLast1Click();
  void ClearSelected1Click();
  // "Open" and double click: extracts the focused entry into a private folder and opens it.
  void Open1Click();
  // Focuses and highlights row alone and scrolls it into sight.
  void FocusRow(const QModelIndex& row);
  // The chosen (ticked or highlighted) rows into the engine's selection; false, after telling
  // the user, when nothing is selected.
  bool SelectCheckedRows();
  // Where "Open" puts files.
  std::string PrivateFolder() { return privateFolder_.Path(); }

 private:
  void ClearView();
  bool Multi() const;
  void ApplyLayout(int mode);

  IArchiveViewDisplay& display();

  TArcUnZip& zip_;
  TOptionLists& lists_;
  TPreferences& prefs_;
  Hosts hosts_;
  TEngineExtractor engineExtractor_;
  IArchiveViewDisplay* display_ = nullptr;
  TArchiveViewModel model_;
  QItemSelectionModel selection_;
  TPrivateFolder privateFolder_;
  QString archiveFolder_;
  QString rememberedPath_;
  int shownMode_ = 0;
  bool sorting_ = false;
  int populateGeneration_ = 0;
};

}  // namespace restore
