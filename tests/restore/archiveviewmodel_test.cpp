// The archive view model on its own: presentations, version folders, sorting and ticks.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>

#include "archive/arcunzip.h"
#include "archive/zipstream.h"
#include "qtprint.h"
#include "restore/archiveviewmodel.h"
#include "zipbuilder.h"

using restore::TArchiveEntries;
using restore::TArchiveViewModel;

namespace {

uint32_t Dos(int y, int mo, int d, int h, int mi) {
  return (static_cast<uint32_t>(((y - 1980) << 9) | (mo << 5) | d) << 16) |
         static_cast<uint32_t>((h << 11) | (mi << 5));
}

// Reads an archive from memory and takes the view's snapshot of it.
std::shared_ptr<TArchiveEntries> Snapshot(const ZipBuilder& b) {
  const std::string bytes = b.Build();
  TArcUnZip z;
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(bytes.data(), bytes.size()));
  z.ReadArchive();
  return restore::SnapshotEntries(z);
}

BuildEntry Entry(const std::string& name, size_t size = 0, uint32_t dos = 0x5A8A6000) {
  BuildEntry e;
  e.name = name;
  e.data = std::string(size, 'x');
  e.dosDateTime = dos;
  return e;
}

// Messages of the model tester fail the test.
class TesterMessages {
 public:
  TesterMessages() {
    failures() = 0;
    previous_ =
        qInstallMessageHandler([](QtMsgType t, const QMessageLogContext&, const QString& m) {
          if (t != QtDebugMsg && t != QtInfoMsg) {
            ++failures();
            ADD_FAILURE() << m.toStdString();
          }
        });
  }
  ~TesterMessages() { qInstallMessageHandler(previous_); }
  static int& failures() {
    static int n = 0;
    return n;
  }

 private:
  QtMessageHandler previous_;
};

// The child of parent whose column-0 text is text (invalid when none).
QModelIndex Child(const QAbstractItemModel& m, const QModelIndex& parent, const QString& text) {
  for (int r = 0; r < m.rowCount(parent); ++r)
    if (m.index(r, 0, parent).data().toString() == text) return m.index(r, 0, parent);
  return {};
}

QStringList ColumnTexts(const QAbstractItemModel& m, int column, const QModelIndex& parent = {}) {
  QStringList out;
  for (int r = 0; r < m.rowCount(parent); ++r) out << m.index(r, column, parent).data().toString();
  return out;
}

}  // namespace

// A 2,000-entry archive: folders, folder entries, version folders, mixed case, sizes and dates.
class ModelTesterRun : public ::testing::Test {
 protected:
  static std::shared_ptr<TArchiveEntries> Big() {
    ZipBuilder b;
    int n = 0;
    for (int f = 0; f < 20 && n < 2000; ++f) {
      const std::string folder = (f % 3 ? "Dir" : "dir") + std::to_string(f) + "/";
      b.Add(Entry(folder));
      ++n;
      for (int i = 0; i < 98; ++i, ++n) {
        std::string name = folder;
        if (i % 7 == 0) name += "#0000ABCD#/";
        if (i % 11 == 0) name += "Sub" + std::to_string(i % 3) + "/";
        name += (i % 2 ? "File" : "file") + std::to_string(i) + (i % 4 ? ".txt" : ".Dat");
        b.Add(Entry(name, static_cast<size_t>((i * 37) % 101),
                    Dos(2000 + i % 20, 1 + i % 12, 1 + i % 28, i % 24, i % 60)));
      }
    }
    while (n < 2000) b.Add(Entry("top" + std::to_string(n++) + ".bin", 3));
    return Snapshot(b);
  }
};

TEST_F(ModelTesterRun, AllPresentationsStayConsistentThroughSortingAndTicking) {
  TesterMessages messages;
  auto entries = Big();
  ASSERT_EQ(entries->count(), 2000);
  TArchiveViewModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);

  auto exercise = [&] {
    QPersistentModelIndex kept = model.LastRow();
    const int keptEntry = model.EntryOf(kept);
    for (int c = 0; c < restore::kColumnCount; ++c) {
      model.Sort(c, Qt::AscendingOrder);
      model.Sort(c, Qt::DescendingOrder);
    }
    // A persistent index follows its row through every sort.
    EXPECT_EQ(model.EntryOf(kept), keptEntry);
    model.SetTicked(model.FirstRow(), true);
    model.SetTicked(model.LastRow(), true);
    model.Sort(restore::kColFileName, Qt::AscendingOrder);
    EXPECT_GE(model.TickedCount(), 2);
    model.ClearTicks();
    EXPECT_EQ(model.TickedCount(), 0);
  };
  // "Listview" and "ListviewDIR" share the list; with and without folder entries.
  model.ShowList(entries, false);
  EXPECT_EQ(model.rowCount(), 1980);
  exercise();
  model.ShowList(entries, true);
  EXPECT_EQ(model.rowCount(), 2000);
  exercise();
  ASSERT_TRUE(model.ShowTree(entries, "big.zip"));
  exercise();
  model.SetExpanded(model.FirstRow(), true);
  model.SetMultiVolume(true);
  model.Clear();
  EXPECT_EQ(TesterMessages::failures(), 0);
}

TEST(ArchiveViewModel, ListFormatsColumnsOnDemand) {
  ZipBuilder b;
  b.Add(Entry("Docs/#00000001#/Report.final.PDF", 1234, Dos(2003, 1, 3, 15, 35)));
  b.Add(Entry("Docs/"));
  b.Add(Entry("noext", 0));
  TArchiveViewModel m;
  m.ShowList(Snapshot(b), true);
  ASSERT_EQ(m.rowCount(), 3);
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColFileName), "Report.final.PDF");
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColPathname), "Docs/");
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColType), ".PDF");
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColNumber), "0");
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColDisk), "");
  // A folder entry shows its folder as file name.
  EXPECT_EQ(m.Text(m.index(1, 0), restore::kColFileName), "Docs/");
  EXPECT_EQ(m.Text(m.index(2, 0), restore::kColType), "");
  m.SetMultiVolume(true);
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColDisk), "1");
  EXPECT_EQ(m.headerData(restore::kColDateTime, Qt::Horizontal).toString(), "Date/Time");
  EXPECT_TRUE(m.Text(m.index(0, 0), restore::kColDateTime).contains("  "));
}

TEST(ArchiveViewModel, SizesShowThousandsSeparators) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(TArchiveViewModel::FormatSize(3000000000ull), "3,000,000,000");
  EXPECT_EQ(TArchiveViewModel::FormatSize(0), "0");
  QLocale::setDefault(QLocale::c());
}

TEST(ArchiveViewModel, VersionsOfOneFileSitSideBySideUnderTheirFolder) {
  ZipBuilder b;
  b.Add(Entry("Data/#11111111#/a.txt", 1));
  b.Add(Entry("Data/#22222222#/a.txt", 2));
  b.Add(Entry("Data/a.txt", 3));     // the current copy, stored after the versions
  b.Add(Entry("Data/#22222222#/"));  // the version folder's own entry adds no row
  TArchiveViewModel m;
  ASSERT_TRUE(m.ShowTree(Snapshot(b), "v.zip"));
  const QModelIndex root = m.index(0, 0);
  EXPECT_EQ(root.data().toString(), "v.zip");
  const QModelIndex data = Child(m, root, "Data");
  ASSERT_TRUE(data.isValid());
  EXPECT_EQ(m.EntryOf(data), -1);
  EXPECT_EQ(ColumnTexts(m, 0, data), QStringList({"a.txt", "a.txt", "a.txt"}));
  EXPECT_EQ(ColumnTexts(m, restore::kColPathname, data), QStringList({"Data/", "Data/", "Data/"}));
  EXPECT_EQ(m.rowCount(root), 1);
}

TEST(ArchiveViewModel, FolderEntriesMergeInTheTreeAndHideInLists) {
  ZipBuilder b;
  b.Add(Entry("Pics/"));
  b.Add(Entry("Pics/x.png", 5));
  b.Add(Entry("Music/y.mp3", 5));
  b.Add(Entry("Music/"));  // after its folder row exists: merges, keeps the folder row
  b.Add(Entry("Empty/"));
  auto entries = Snapshot(b);
  TArchiveViewModel m;
  m.ShowList(entries, false);
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"x.png", "y.mp3"}));
  m.ShowList(entries, true);
  EXPECT_EQ(m.rowCount(), 5);

  ASSERT_TRUE(m.ShowTree(entries, "t.zip"));
  const QModelIndex root = m.index(0, 0);
  // Folder rows first, then the rest by name.
  EXPECT_EQ(ColumnTexts(m, 0, root), QStringList({"Music", "Empty", "Pics"}));
  const QModelIndex pics = Child(m, root, "Pics");
  EXPECT_EQ(m.EntryOf(pics), 0);  // bound to the folder entry that made it
  EXPECT_EQ(m.rowCount(pics), 1);
  EXPECT_EQ(m.EntryOf(Child(m, root, "Music")), -1);
  EXPECT_EQ(m.rowCount(Child(m, root, "Empty")), 0);
  EXPECT_EQ(m.data(Child(m, pics, "x.png"), TArchiveViewModel::IconKindRole).toInt(),
            TArchiveViewModel::FileIcon);
  EXPECT_EQ(m.data(pics, TArchiveViewModel::IconKindRole).toInt(),
            TArchiveViewModel::FolderClosedIcon);
  m.SetExpanded(pics, true);
  EXPECT_EQ(m.data(pics, TArchiveViewModel::IconKindRole).toInt(),
            TArchiveViewModel::FolderOpenIcon);
}

TEST(ArchiveViewModel, RootRowShowsArchiveNameAndTotalSize) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ZipBuilder b;
  b.Add(Entry("a", 1000));
  b.Add(Entry("b/c", 234));
  TArchiveViewModel m;
  ASSERT_TRUE(m.ShowTree(Snapshot(b), "name.zip"));
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColSize), "1,234");
  EXPECT_EQ(m.Text(m.index(0, 0), restore::kColNumber), "");
  QLocale::setDefault(QLocale::c());
}

TEST(ArchiveViewModel, SortsCaseInsensitivelyStablyAndNumerically) {
  ZipBuilder b;
  b.Add(Entry("b.txt", 10, Dos(2005, 1, 1, 0, 0)));
  b.Add(Entry("A.txt", 2, Dos(2004, 1, 1, 0, 0)));
  b.Add(Entry("a.TXT", 10, Dos(2006, 1, 1, 0, 0)));
  BuildEntry big = Entry("huge.img");
  big.zip64 = true;
  big.declaredSize = 3000000000ll;  // a 3 GB entry without its data
  b.Add(big);
  TArchiveViewModel m;
  m.ShowList(Snapshot(b), false);
  m.Sort(restore::kColFileName, Qt::AscendingOrder);
  // Equal keys keep archive order.
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"A.txt", "a.TXT", "b.txt", "huge.img"}));
  // Equal sizes keep the order the rows had.
  m.Sort(restore::kColSize, Qt::DescendingOrder);
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"huge.img", "a.TXT", "b.txt", "A.txt"}));
  m.Sort(restore::kColSize, Qt::AscendingOrder);
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"A.txt", "a.TXT", "b.txt", "huge.img"}));
  m.Sort(restore::kColDateTime, Qt::AscendingOrder);
  EXPECT_EQ(ColumnTexts(m, 0).mid(0, 3), QStringList({"A.txt", "b.txt", "a.TXT"}));
  m.Sort(restore::kColDisk, Qt::DescendingOrder);  // archive order, reversed
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"huge.img", "a.TXT", "A.txt", "b.txt"}));
  m.Sort(restore::kColNumber, Qt::AscendingOrder);  // all equal: nothing moves
  EXPECT_EQ(ColumnTexts(m, 0), QStringList({"huge.img", "a.TXT", "A.txt", "b.txt"}));
}

TEST(ArchiveViewModel, TreeTicksCoverSubtreesAndShowParentsPartly) {
  ZipBuilder b;
  b.Add(Entry("d/x", 1));
  b.Add(Entry("d/y", 1));
  b.Add(Entry("d/s/z", 1));
  b.Add(Entry("top", 1));
  TArchiveViewModel m;
  ASSERT_TRUE(m.ShowTree(Snapshot(b), "t.zip"));
  const QModelIndex root = m.index(0, 0);
  const QModelIndex d = Child(m, root, "d");
  const QModelIndex s = Child(m, d, "s");
  QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);

  ASSERT_TRUE(m.setData(d, Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(m.CheckState(Child(m, s, "z")), Qt::Checked);
  EXPECT_EQ(m.CheckState(Child(m, d, "x")), Qt::Checked);
  EXPECT_EQ(m.CheckState(root), Qt::PartiallyChecked);
  EXPECT_GT(changed.count(), 0);
  std::vector<int> ticked;
  m.ForEachTickedEntry([&](int e) { ticked.push_back(e); });
  EXPECT_EQ(ticked.size(), 3u);  // folder rows are passed over

  m.SetTicked(Child(m, s, "z"), false);
  EXPECT_EQ(m.CheckState(s), Qt::Unchecked);
  EXPECT_EQ(m.CheckState(d), Qt::PartiallyChecked);
  m.SetTicked(Child(m, s, "z"), true);
  EXPECT_EQ(m.CheckState(d), Qt::Checked);
  m.SetTicked(Child(m, root, "top"), true);
  EXPECT_EQ(m.CheckState(root), Qt::Checked);
  // A partly ticked row clicked by the user becomes ticked.
  m.SetTicked(Child(m, d, "x"), false);
  EXPECT_EQ(m.CheckState(root), Qt::PartiallyChecked);
  m.setData(root, Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(m.TickedCount(), static_cast<int>(6 + 1));  // root, d, s and four entries
  m.ClearTicks();
  EXPECT_EQ(m.TickedCount(), 0);
}

TEST(ArchiveViewModel, FirstAndLastRows) {
  ZipBuilder b;
  b.Add(Entry("a/b/c", 1));
  b.Add(Entry("z", 1));
  auto entries = Snapshot(b);
  TArchiveViewModel m;
  EXPECT_FALSE(m.FirstRow().isValid());
  m.ShowList(entries, false);
  EXPECT_EQ(m.EntryOf(m.LastRow()), 1);
  ASSERT_TRUE(m.ShowTree(entries, "t.zip"));
  EXPECT_EQ(m.FirstRow().data().toString(), "t.zip");
  EXPECT_EQ(m.LastRow().data().toString(), "z");  // folder rows sort first, "z" is last
  EXPECT_EQ(m.EntryOf(m.RowOfEntry(0)), 0);
}
