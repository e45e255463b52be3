#include "restore/archiveviewcontroller.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <optional>
#include <stdexcept>

#include "app/controlhost.h"
#include "app/damagedarchive.h"
#include "app/mb.h"
#include "app/optionlist.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "archive/arcunzip.h"
#include "archive/zipmedia.h"
#include "archive/zipsession.h"

namespace restore {

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

const char* const kOpenTitle = "Open Existing ZIP File";
const char* const kOpenFilter =
    "Zip (SFX) or Spanned Files|*.z*;*.EXE;*.0*;*.1*;*.2*;*.3*;*.4*;*.5*;*.6*;*.7*;*.8*;*.9*";
const char* const kArcavo = "Arcavo";

// ".zip" appended to a name without extension.
QString WithZipExtension(const QString& name) {
  const QString file = QFileInfo(name).fileName();
  return file.contains(QLatin1Char('.')) ? name : name + QLatin1String(".zip");
}

}  // namespace

TArchiveViewController::TArchiveViewController(TArcUnZip& zip, TOptionLists& lists,
                                               TPreferences& prefs, Hosts hosts, QObject* parent)
    : QObject(parent), zip_(zip), lists_(lists), prefs_(prefs), hosts_(hosts), selection_(&model_) {
  if (!hosts_.extractor) hosts_.extractor = &engineExtractor_;
  // The parts of a split set the window opens are named as the program names them (base.z01,
  // ..., base.zip), the names zip -s gives them too. Set on the idle engine, so every operation
  // on the open archive (reading, extraction, test, search) finds them.
  if (!zip_.OnFileNameForSplitPart)
    zip_.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& name, int part,
                                     TSplitPartType type) {
      name = ProgramPartName(name, part, type);
    };
  shownMode_ = std::max(0, lists_.viewList.CheckedIndex());
}

TArchiveViewController::~TArchiveViewController() = default;

namespace {
struct NoDisplay : IArchiveViewDisplay {
  void ApplyColumnLayout(const TColumnLayout&) override {}
  void SetFontSize(int) override {}
  void ShowSortIndicator(int, bool) override {}
  void ScrollToCurrent() override {}
};
}  // namespace

void TArchiveViewController::SetDisplay(IArchiveViewDisplay* display) {
  display_ = display;
}

IArchiveViewDisplay& TArchiveViewController::display() {
  static NoDisplay none;
  return display_ ? *display_ : none;
}

bool TArchiveViewController::Multi() const {
  return zip_.MultiZipInfo.MultiMode != TMultiMode::mmNone;
}

void TArchiveViewController::ClearView() {
  ++populateGeneration_;
  model_.Clear();
}

// ---- opening -------------------------------------------------------------------------------

void TArchiveViewController::ZipOpenButClick() {
  zip_.CloseArchive();
  hosts_.window.Setstate(0);
  hosts_.window.Setstate(1);
  FileDialogSpec spec;
  spec.title = S(kOpenTitle);
  spec.filter = S(kOpenFilter);
  const QString explorer = hosts_.window.ExplorerSelectedFolder();
  if (!explorer.isEmpty())
    spec.initialDir = explorer;
  else if (!archiveFolder_.isEmpty())
    spec.initialDir = archiveFolder_;
  else
    spec.initialDir = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  QString file = hosts_.window.TakePickedRecentFile();
  if (file.isEmpty())
    file = hosts_.window.CtrlHeld() ? hosts_.dialogs.OpenFile(spec)
                                    : hosts_.window.RecentFileOpen(spec);
  if (file.isEmpty()) return;
  archiveFolder_ = QFileInfo(file).absolutePath();
  ReadZipFile(file);
}

void TArchiveViewController::VETlistDblClick(const QString& file) {
  const QString name = QFileInfo(file).fileName();
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString ext = dot < 0 ? QString() : name.mid(dot).toUpper();
  // A name without extension (or ending in a dot) is neither archive nor job.
  bool taken = false;
  if (ext.size() > 1) {
    taken = ext.contains(QLatin1String(".Z")) || QLatin1String(".CAT.JOB").contains(ext);
    if (!taken) {
      // Numbered split parts: the three characters after the dot form a number other than 0.
      const QString digits = ext.mid(1, 3);
      bool allDigits = true;
      for (QChar c : digits) allDigits = allDigits && c.isDigit() && c.unicode() < 128;
      taken = allDigits && digits.toInt() != 0;
    }
  }
  if (!taken) return;
  zip_.CloseArchive();
  if (!hosts_.window.CtrlHeld()) hosts_.window.RecordRecentFile(file);
  hosts_.window.Setstate(0);
  if (ext == QLatin1String(".CAT") || ext == QLatin1String(".JOB"))
    hosts_.window.OpenJob(file);
  else
    ReadZipFile(file);
}

bool TArchiveViewController::ReadZipFile(const QString& name) {
  // Reading for the view is an operation of its own on the engine; while another one holds the
  // engine, nothing is opened.
  std::optional<TZipSession> session(std::in_place, zip_);
  if (session->Refused()) return false;
  rememberedPath_ = name;
  zip_.CloseArchive();
  zip_.MultiZipInfo.MultiMode = TMultiMode::mmNone;
  const QString full = WithZipExtension(name);
  hosts_.window.SetArchiveName(full);
  hosts_.window.Clearchecks();
  ClearView();
  hosts_.window.ShowArchiveNote(QString());
  hosts_.controls.SetControlEnabled(S(ctl::kSaveJobButton), true);
  // The previous archive's state must not survive into this one.
  hosts_.controls.SetControlEnabled(S(ctlnames::kKillZipButton), false);
  hosts_.window.Setstate(0);
  hosts_.window.Setstate(1);
  hosts_.window.GaugeStart();
  try {
    zip_.SetZipName(PathBytes(full));
    zip_.ReadArchive();
  } catch (...) {
    MbMessage(QStringLiteral("ZIP read error"), S(kArcavo), false, MB_OK + MB_ICONERROR);
    zip_.CloseArchive();
    ClearView();
    hosts_.window.GaugeStop();
    return false;
  }
  session.reset();
  hosts_.window.SetZip64Highlighted(zip_.NeedsZip64());
  hosts_.window.SetCommentText(QString::fromStdString(zip_.ArchiveComment()));
  if (zip_.EntryCount() > 0) {
    hosts_.controls.SetControlEnabled(S(ctl::kGetZipButton), false);
    hosts_.controls.SetControlEnabled(S(ctlnames::kKillZipButton), true);
    hosts_.window.ResetSearchBox();
    PopulateArchiveView();
    hosts_.window.FlashArchiveTab();
    hosts_.window.SetCommentText(QString::fromStdString(zip_.ArchiveComment()));
  }
  hosts_.window.GaugeStop();
  return true;
}

void TArchiveViewController::PopulateArchiveView() {
  if (zip_.EntryCount() == 0) return;
  ClearView();
  const int generation = populateGeneration_;
  hosts_.window.ShowArchivePage();
  hosts_.controls.SetControlEnabled(S(ctlnames::kViewsGroup), false);
  hosts_.window.GaugeStart();

  std::shared_ptr<const TArchiveEntries> entries = SnapshotEntries(zip_);
  const QString name = PathText(zip_.ZipName());
  hosts_.window.ShowZipspecs(name, entries->count(), entries->TotalSize());
  // The list of an archive whose directory had to be rebuilt is what a scan found: said so.
  const QString damage = DirectoryDamageText(zip_);
  hosts_.window.ShowArchiveNote(damage.isEmpty() ? QString()
                                                 : S(damagedmsg::kViewNote).arg(damage));
  model_.SetMultiVolume(Multi());
  int mode = std::max(0, lists_.viewList.CheckedIndex());
  if (mode == opt::kViewTree && hosts_.search.SearchResultsShown()) mode = opt::kViewList;
  if (mode == opt::kViewTree) {
    const bool done = model_.ShowTree(entries, name, [&] {
      hosts_.window.ProcessMessages();
      return generation == populateGeneration_;
    });
    // A newer fill (or a clear) ran while events were dispatched: it owns the view now.
    if (!done) {
      hosts_.window.GaugeStop();
      return;
    }
  } else {
    const bool folders =
        prefs_.Bool(QStringLiteral("DisplayEmptyDIR")) || hosts_.search.SearchResultsShown();
    model_.ShowList(entries, folders);
  }
  shownMode_ = mode;
  ApplyLayout(mode);
  SetSortColumns();
  hosts_.controls.SetControlEnabled(S(ctlnames::kViewsGroup), true);
  hosts_.controls.SetControlVisible(S(ctl::kArchiveView), true);
  hosts_.window.GaugeStop();
}

void TArchiveViewController::ShowSearchResults(std::shared_ptr<const TArchiveEntries> results) {
  ClearView();
  hosts_.window.ShowArchiveNote(QString());
  model_.SetMultiVolume(false);
  model_.ShowList(std::move(results), true);
  // Results come up in "Listview"; "ListviewDIR" may be chosen afterwards to see their folders.
  {
    THandlersDetached quiet{&lists_.viewList};
    lists_.viewList.SetChecked(opt::kViewList, true);
  }
  shownMode_ = opt::kViewList;
  ApplyLayout(shownMode_);
  SetSortColumns();
}

// ---- presentation ------------------------------------------------------------------------

TColumnLayout TArchiveViewController::ColumnLayout(int mode, bool multiVolume) {
  TColumnLayout l;
  l.pathnameVisible = mode == opt::kViewListDir;
  l.fileNameWidth = (mode == opt::kViewListDir ? 260 : 480) - (multiVolume ? 40 : 0);
  l.diskVisible = multiVolume;
  return l;
}

void TArchiveViewController::ApplyLayout(int mode) {
  display().ApplyColumnLayout(ColumnLayout(mode, Multi()));
}

void TArchiveViewController::CheckListBox11StateChange(int mode) {
  if (mode < opt::kViewList || mode > opt::kViewTree) return;
  if (mode == opt::kViewTree && hosts_.search.SearchResultsShown()) {
    ApplyLayout(shownMode_);
    return;
  }
  ApplyLayout(mode);
  const bool rebuild = (mode == opt::kViewTree) != (shownMode_ == opt::kViewTree);
  shownMode_ = mode;
  if (rebuild && zip_.EntryCount() > 0) PopulateArchiveView();
}

// ---- sorting -------------------------------------------------------------------------------

void TArchiveViewController::VTree1HeaderClick(int column) {
  if (sorting_ || column < 0 || column >= kColumnCount) return;
  if (model_.rowCount() == 0) return;
  Qt::SortOrder order = Qt::AscendingOrder;
  if (column == model_.sortColumn())
    order = model_.sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  sorting_ = true;
  hosts_.window.GaugeStart();
  model_.Sort(column, order);
  display().ShowSortIndicator(column, order == Qt::DescendingOrder);
  display().ScrollToCurrent();
  hosts_.window.GaugeStop();
  sorting_ = false;
}

void TArchiveViewController::SetSortColumns() {
  int tag = prefs_.Int(QStringLiteral("ArchiveSortBy"));
  if (tag < 0 || tag > 5) tag = 0;
  if (model_.rowCount() == 0 || sorting_) return;
  const int column = (tag / 2) * 2;  // 0, 0, 2, 2, 4, 4
  const Qt::SortOrder order = (tag % 2) ? Qt::DescendingOrder : Qt::AscendingOrder;
  const QString view = S(ctl::kArchiveView);
  const bool wasEnabled = hosts_.controls.ControlEnabled(view);
  hosts_.controls.SetControlEnabled(view, false);
  sorting_ = true;
  model_.Sort(column, order);
  sorting_ = false;
  display().ShowSortIndicator(column, order == Qt::DescendingOrder);
  display().ScrollToCurrent();
  hosts_.controls.SetControlEnabled(view, wasEnabled);
}

void TArchiveViewController::SortBy1Click(int tag) {
  if (tag < 0 || tag > 5) return;
  for (int t = 0; t < 6; ++t) hosts_.controls.SetControlChecked(S(ctl::kSortByItems[t]), t == tag);
  prefs_.Write(QStringLiteral("ArchiveSortBy"), tag);
  SetSortColumns();
}

void TArchiveViewController::DisplayEmptyDir1Click() {
  const QString item = S(ctl::kDisplayEmptyDirItem);
  hosts_.controls.SetControlChecked(item, !hosts_.controls.ControlChecked(item));
  prefs_.INIcheckedMenuItem(QStringLiteral("DisplayEmptyDIR"), hosts_.controls, item);
}

void TArchiveViewController::LargeFonts1Click(bool checked) {
  display().SetFontSize(checked ? 10 : 8);
  prefs_.Write(QStringLiteral("LargeFonts"), checked);
}

void TArchiveViewController::ApplyLargeFonts() {
  const bool on = prefs_.Bool(QStringLiteral("LargeFonts"));
  hosts_.controls.SetControlChecked(S(ctl::kLargeFontsBox), on);
  display().SetFontSize(on ? 10 : 8);
}

// ---- ticks and popup -----------------------------------------------------------------------

void TArchiveViewController::VTree1KeyAction() {
  const QModelIndexList rows = selection_.selectedRows(0);
  QList<QPersistentModelIndex> keep(rows.begin(), rows.end());
  for (const QPersistentModelIndex& i : keep)
    model_.SetTicked(i, model_.CheckState(i) != Qt::Checked);
}

void TArchiveViewController::GotoFirst1Click() {
  model_.ClearTicks();
  const QModelIndex i = model_.FirstRow();
  if (!i.isValid()) return;
  selection_.setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  display().ScrollToCurrent();
}

void TArchiveViewController::GotoLast1Click() {
  model_.ClearTicks();
  const QModelIndex i = model_.LastRow();
  if (!i.isValid()) return;
  selection_.setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  display().ScrollToCurrent();
}

void TArchiveViewController::FocusRow(const QModelIndex& row) {
  if (!row.isValid()) return;
  selection_.setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  display().ScrollToCurrent();
}

void TArchiveViewController::ClearSelected1Click() {
  model_.ClearTicks();
}

bool TArchiveViewController::SelectCheckedRows() {
  const int n = zip_.EntryCount();
  const bool results = hosts_.search.SearchResultsShown();
  const QString current = PathText(zip_.ZipName());
  auto pick = [&](int e) {
    // Result rows name their archive: only those of the open archive can be selected.
    if (results) {
      QString archive;
      int entry = -1;
      if (e < 0 || !hosts_.search.ResultEntry(e, archive, entry) || archive != current) return;
      e = entry;
    }
    if (e >= 0 && e < n) zip_.SetEntrySelected(e, true);
  };
  model_.ForEachTickedEntry(pick);
  for (const QModelIndex& i : selection_.selectedRows(0)) pick(model_.EntryOf(i));
  if (zip_.SelectedCount() == 0) {
    MbInfo(QStringLiteral("Error - no files selected"));
    hosts_.window.GaugeStop();
    hosts_.window.RestoreCursor();
    return false;
  }
  return true;
}

void TArchiveViewController::Open1Click() {
  const QModelIndex current = selection_.currentIndex();
  int entry = model_.EntryOf(current);
  if (entry < 0) return;
  const bool result = hosts_.search.SearchResultsShown();
  if (!result && model_.entries()->IsFolderEntry(entry)) return;  // nothing to open

  int extracted = 0;
  std::string folder, fileName;
  {
    // What "Open" sets on the engine (the folder, the overwrite mode, the selected entry) is
    // given back when its session ends, whatever happens.
    TZipSession session(zip_);
    if (!session) return;
    hosts_.window.GaugeStart();
    try {
      zip_.OverwriteMode = TUZOverwriteMode::Always;
      if (result) {
        QString archive;
        if (!hosts_.search.ResultEntry(entry, archive, entry))
          throw std::runtime_error("no archive entry for this result");
        zip_.SetZipName(PathBytes(archive));
        zip_.ReadArchive();
      }
      zip_.SetEntrySelected(entry, true);
      fileName = zip_.EntryName(entry);
      zip_.RecreateDirs = false;
      folder = privateFolder_.Path();
      zip_.SetDestDir(folder);
      extracted = hosts_.extractor->ExtractSelected(zip_);
    } catch (...) {
      extracted = 0;
    }
  }
  if (extracted == 0) {
    MbMessage(QStringLiteral("Couldn't UnZip the file"), S(kArcavo), false,
              MB_OK + MB_ICONEXCLAMATION);
  } else {
    const QString dir = PathText(folder);
    hosts_.desktop.OpenFile(dir + QLatin1Char('/') + PathText(fileName), dir);
  }
  hosts_.window.GaugeStop();
  hosts_.window.RestoreCursor();
}

}  // namespace restore
