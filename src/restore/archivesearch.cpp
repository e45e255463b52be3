#include "restore/archivesearch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "app/controlhost.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "archive/arcunzip.h"
#include "archive/zipsession.h"
#include "platform/inifile.h"
#include "platform/wildcard.h"
#include "restore/archiveviewcontroller.h"

namespace restore {

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

constexpr int kHistoryMax = 10;
constexpr qint64 kDispatchMs = 50;
constexpr int64_t kQuickSearchMs = 3000;

std::string Section() {
  return searchmsg::kHistorySection;
}

IniFile DefaultIni() {
  return IniFile(TPreferences::DefaultFile().toStdString());
}

// Saves the default file; a file that cannot be written is told, the history in memory stays.
void SaveIni(const IniFile& ini) {
  try {
    ini.Save();
  } catch (const std::exception& e) {
    MbMessage(QString::fromLocal8Bit(e.what()), S("Arcavo"), false, MB_ICONERROR);
  }
}

}  // namespace

TArchiveSearch::TArchiveSearch(TArcUnZip& zip, TArchiveViewController& view, IArchiveWindow& window,
                               IControlHost& controls, TPreferences& prefs, ISearchBoxHost& box,
                               QObject* parent)
    : QObject(parent),
      zip_(zip),
      view_(view),
      window_(window),
      controls_(controls),
      prefs_(prefs),
      box_(box) {
  keyClock_.start();
}

TArchiveSearch::~TArchiveSearch() = default;

// ---- history -------------------------------------------------------------------------------

QString TArchiveSearch::EncodeKey(const QString& pattern) {
  // Blanks at the ends would be trimmed away by the file; the rest would end the key, start a
  // comment or a section, or break the line.
  qsizetype first = 0, last = pattern.size();
  while (first < last && pattern.at(first) == QLatin1Char(' ')) ++first;
  while (last > first && pattern.at(last - 1) == QLatin1Char(' ')) --last;
  QString out;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern.at(i);
    const bool edgeBlank = c == QLatin1Char(' ') && (i < first || i >= last);
    if (edgeBlank || QStringLiteral("%=;#[]\r\n").contains(c))
      out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
    else
      out += c;
  }
  return out;
}

QString TArchiveSearch::DecodeKey(const QString& key) {
  QString out;
  for (qsizetype i = 0; i < key.size(); ++i) {
    bool ok = false;
    if (key.at(i) == QLatin1Char('%') && i + 2 < key.size()) {
      const int code = key.mid(i + 1, 2).toInt(&ok, 16);
      if (ok) {
        out += QChar(code);
        i += 2;
        continue;
      }
    }
    out += key.at(i);
  }
  return out;
}

void TArchiveSearch::LoadHistory() {
  history_.clear();
  const IniFile ini = DefaultIni();
  for (const std::string& key : ini.Keys(Section())) {
    const QString item = DecodeKey(QString::fromStdString(key));
    if (!item.isEmpty() && !history_.contains(item)) history_ << item;
  }
  box_.SetHistoryItems(history_);
}

void TArchiveSearch::SaveKey(const QString& pattern, bool add) {
  IniFile ini = DefaultIni();
  const std::string key = EncodeKey(pattern).toStdString();
  if (add)
    ini.WriteString(Section(), key, std::string());
  else
    ini.DeleteKey(Section(), key);
  SaveIni(ini);
}

void TArchiveSearch::Remember(const QString& pattern) {
  if (pattern.isEmpty() || history_.contains(pattern)) return;
  // The first item stays; the oldest after it leave the list and the file.
  while (history_.size() > kHistoryMax - 1) {
    SaveKey(history_.at(1), false);
    history_.removeAt(1);
  }
  history_ << pattern;
  SaveKey(pattern, true);
  box_.SetHistoryItems(history_);
  box_.SetSearchText(pattern);
}

void TArchiveSearch::ComboBox1Click(int index) {
  if (index < 0 || index >= history_.size()) return;
  const QString item = history_.at(index);
  if (window_.CtrlHeld()) {
    SaveKey(item, false);
    history_.removeAt(index);
    box_.SetHistoryItems(history_);
    box_.SetSearchText(lastText_);
    return;
  }
  lastText_ = item;
  box_.SetSearchText(item);
}

void TArchiveSearch::ComboBox1DropDown() {
  LoadHistory();
}

void TArchiveSearch::ComboBox1DblClick() {
  if (!window_.CtrlHeld()) {
    box_.SelectSearchText();
    return;
  }
  IniFile ini = DefaultIni();
  ini.EraseSection(Section());
  SaveIni(ini);
  history_.clear();
  box_.SetHistoryItems(history_);
  box_.SetSearchText(S(searchmsg::kPlaceholder));
}

// ---- within the open archive ---------------------------------------------------------------

void TArchiveSearch::ComboBox1KeyDown(int key, bool ctrl) {
  if (zip_.EntryCount() == 0 || zip_.Busy() || running_) return;
  if (ctrl && key == Qt::Key_Space) {
    ToggleLastFound();
    return;
  }
  lastText_ = box_.SearchText();
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  SearchWithin();
}

void TArchiveSearch::ToggleLastFound() {
  box_.WaitForSpaceRelease();
  box_.SetSearchText(lastText_);
  TArchiveViewModel& model = view_.model();
  const QModelIndex row =
      lastRow_.isValid() ? QModelIndex(lastRow_) : view_.selection().currentIndex();
  if (!row.isValid() || !(model.flags(row) & Qt::ItemIsEnabled)) return;
  model.SetTicked(row, model.CheckState(row) != Qt::Checked);
  view_.selection().clearSelection();
}

void TArchiveSearch::SearchWithin() {
  Remember(lastText_);
  if (lastRow_.isValid())
    view_.selection().select(lastRow_, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  const std::string pattern = lastText_.toStdString();
  const int n = zip_.EntryCount();
  int found = -1;
  for (int e = lastFound_ < 0 ? 0 : lastFound_ + 1; e < n && found < 0; ++e) {
    const std::string& name = zip_.EntryHeader(e).FileName;
    if (!name.empty() && WildcardMatch(pattern, name)) found = e;
  }
  // Past the last entry the walk starts over with the next Enter.
  lastFound_ = found;
  if (found < 0) return;
  const QModelIndex row = view_.model().RowOfEntry(found);
  lastRow_ = row;
  view_.FocusRow(row);
}

// ---- global search -------------------------------------------------------------------------

QStringList TArchiveSearch::ArchivesIn(const QString& folder) {
  std::vector<std::string> names;
  const std::string dir = PathBytes(folder);
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() < 5) continue;
      std::string ext = name.substr(name.size() - 4);
      for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      if (ext != ".zip") continue;
      // Only regular files: a FIFO or a device is never opened, a folder never entered.
      struct stat st;
      const std::string path = dir + (dir.empty() || dir.back() != '/' ? "/" : "") + name;
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(path);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  QStringList out;
  for (const std::string& n : names) out << PathText(n);
  return out;
}

void TArchiveSearch::Gdir1Click() {
  if (running_) return;
  const QString pattern = box_.SearchText();
  if (pattern == S(searchmsg::kPlaceholder) || pattern.isEmpty()) {
    MbInfo(S(searchmsg::kEnterFilename));
    return;
  }
  Remember(pattern);
  QString folder = prefs_.Text(QStringLiteral("GFindDIR"));
  if (!repeat_) {
    folder = box_.ChooseFolder(S(searchmsg::kFolderTitle), window_.ExplorerSelectedFolder());
    if (folder.isEmpty()) return;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    prefs_.Write(QStringLiteral("GFindDIR"), folder);
  }
  // Idle mode empties the previous results and clears the mark.
  window_.Setstate(0);
  repeat_ = false;
  globalMark_ = true;
  SearchFolder(folder, pattern);
}

void TArchiveSearch::GrepeatClick() {
  if (running_) return;
  if (prefs_.Text(QStringLiteral("GFindDIR")).isEmpty()) {
    MbInfo(S(searchmsg::kFirstClick));
    return;
  }
  repeat_ = true;
  Gdir1Click();
  repeat_ = false;
}

void TArchiveSearch::Dispatch() {
  if (sinceDispatch_.elapsed() < kDispatchMs) return;
  window_.ProcessMessages();
  sinceDispatch_.restart();
}

void TArchiveSearch::SearchFolder(const QString& folder, const QString& pattern) {
  view_.ClearArchiveView();
  window_.GaugeStart();
  auto results = std::make_unique<TSearchResults>();
  running_ = true;
  {
    // The search holds the engine from its first archive to its last: nothing else reads or
    // writes meanwhile, although events are dispatched.
    std::optional<TZipSession> session(std::in_place, zip_);
    if (session->Refused()) {
      globalMark_ = false;
      running_ = false;
      window_.GaugeStop();
      return;
    }
    // A damaged archive is read as far as it goes, without a question; spanned sets on other
    // media are not asked for.
    session->Handle(&TArcUnZip::OnInCompleteZip, [](TZipSender, TIncompleteZipMode& mode) {
      mode = TIncompleteZipMode::izAssumeBad;
    });
    session->Handle(&TArcUnZip::OnGetNextDisk,
                    [](TZipSender, int, std::string& name) { name.clear(); });
    abort_ = false;
    sinceDispatch_.start();
    const std::string pat = pattern.toStdString();
    const QStringList archives = ArchivesIn(folder);
    TArchiveEntries& out = *results->entries;
    std::unordered_map<std::string, QString> folders;
    for (int a = 0; a < archives.size() && !abort_; ++a) {
      box_.SearchProgress(a, static_cast<int>(archives.size()));
      Dispatch();
      try {
        zip_.CloseArchive();
        zip_.SetZipName(PathBytes(archives.at(a)));
        zip_.ReadArchive();
      } catch (...) {
        continue;  // unreadable archives are passed over
      }
      const int n = zip_.EntryCount();
      int32_t archiveIndex = -1;
      folders.clear();
      for (int e = 0; e < n; ++e) {
        if ((e & 1023) == 1023) Dispatch();
        const TZipHeaderInfo& h = zip_.EntryHeader(e);
        if (h.FileName.empty() || !WildcardMatch(pat, h.FileName)) continue;
        if (archiveIndex < 0) {
          archiveIndex = static_cast<int32_t>(results->archives.size());
          results->archives << archives.at(a);
        }
        auto it = folders.find(h.FilePath);
        if (it == folders.end())
          it = folders.emplace(h.FilePath, QString::fromStdString(h.FilePath)).first;
        out.Add(QString::fromStdString(h.FileName), it->second, h.UncompressedSize(),
                h.ModifDateTime, static_cast<int>(h.DiskNumber()) + 1, e);
        results->archiveOf.push_back(archiveIndex);
      }
    }
    box_.SearchProgress(static_cast<int>(archives.size()), static_cast<int>(archives.size()));
    zip_.CloseArchive();
  }
  controls_.SetControlEnabled(S(ctl::kDeleteButton), false);
  if (results->count() == 0) {
    MbInfo(S(searchmsg::kNoMatches));
    globalMark_ = false;
  } else {
    results_ = std::move(results);
    view_.ShowSearchResults(results_->entries);
    controls_.SetControlEnabled(S(ctl::kExtractButton), true);
    controls_.SetControlEnabled(S(ctl::kGetZipButton), true);
    controls_.SetControlVisible(S(ctl::kGetZipItem), true);
  }
  window_.GaugeStop();
  // Running until here: a close asked for meanwhile waits until the results are in place.
  running_ = false;
}

void TArchiveSearch::Abort() {
  if (running_) abort_ = true;
}

void TArchiveSearch::ClearResults() {
  results_.reset();
}

void TArchiveSearch::GetZBtn1Click() {
  int chosen = -1;
  if (SearchResultsShown()) {
    const TArchiveViewModel& model = view_.model();
    auto take = [&chosen](int record) {
      if (record >= 0 && (chosen < 0 || record < chosen)) chosen = record;
    };
    model.ForEachTickedEntry(take);
    for (const QModelIndex& i : view_.selection().selectedRows(0)) take(model.EntryOf(i));
  }
  QString archive;
  int entry = -1;
  if (chosen < 0 || !ResultEntry(chosen, archive, entry)) {
    MbInfo(S(searchmsg::kSelectionError));
    return;
  }
  view_.ReadZipFile(archive);
}

bool TArchiveSearch::SearchResultsShown() const {
  return results_ && results_->count() > 0;
}

bool TArchiveSearch::ResultEntry(int record, QString& archive, int& entry) const {
  if (!results_ || record < 0 || record >= results_->count()) return false;
  archive = results_->archives.at(results_->archiveOf[static_cast<size_t>(record)]);
  entry = results_->entries->number[static_cast<size_t>(record)];
  return true;
}

// ---- quick search --------------------------------------------------------------------------

bool TArchiveSearch::VTree1IncrementalSearch(const QString& typed) {
  return VTree1IncrementalSearch(typed, keyClock_.elapsed());
}

bool TArchiveSearch::VTree1IncrementalSearch(const QString& typed, int64_t nowMs) {
  if (!prefs_.Bool(QStringLiteral("QuickSearch")) || typed.isEmpty()) return false;
  if (lastKeyMs_ < 0 || nowMs - lastKeyMs_ > kQuickSearchMs) typed_.clear();
  lastKeyMs_ = nowMs;
  typed_ += typed.toUpper();
  const TArchiveViewModel& model = view_.model();
  // Every row, depth first in the order shown.
  QModelIndex found;
  std::vector<QModelIndex> stack;
  for (int r = model.rowCount() - 1; r >= 0; --r) stack.push_back(model.index(r, 0));
  while (!stack.empty() && !found.isValid()) {
    const QModelIndex i = stack.back();
    stack.pop_back();
    if (i.data().toString().toUpper().startsWith(typed_)) {
      found = i;
      break;
    }
    for (int r = model.rowCount(i) - 1; r >= 0; --r) stack.push_back(model.index(r, 0, i));
  }
  if (found.isValid()) view_.FocusRow(found);
  return true;
}

}  // namespace restore
