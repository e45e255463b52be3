// A new user's first hour in the window, in the order it happens: the first start on a machine
// without a disc writer or a browser, ticking before and after naming an archive, folders made
// while the tree is open, naming with a typed absolute path, one-of-many lists, the report box,
// the keys, and the later starts that hand the window an archive or nothing at all.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/explorer.h"
#include "app/mb.h"
#include "app/optionlist.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/urlopener.h"
#include "backup/naming.h"
#include "qt_scriptedhost.h"
#include "testutil.h"
#include "ui/backupwindow.h"
#include "ui/desktopopener.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"
#include "ui/windownames.h"
#include "windowtest.h"

namespace {

// No browser on this machine.
struct NoBrowser : IUrlOpener {
  bool OpenUrl(const QString&) override { return false; }
};

template <class Cond>
bool WaitFor(Cond cond, int ms = 3000) {
  for (int i = 0; i < ms / 10 && !cond(); ++i) QTest::qWait(10);
  return cond();
}

class FirstHourTest : public WindowTestBase {
 protected:
  // No settings file: the first start.
  FirstHourTest() : WindowTestBase(nullptr), home_(qgetenv("HOME")) {
    previous_ = SetUrlOpener(&noBrowser_);
    QDir().mkpath(Q(tmp_ / "home"));
    qputenv("HOME", QByteArray::fromStdString(tmp_ / "home"));
  }
  ~FirstHourTest() override {
    SetUrlOpener(previous_);
    qputenv("HOME", home_);
  }
  static QString Q(const std::string& s) { return QString::fromStdString(s); }
  QString Note(TMainform& w) const {
    return w.findChild<QLabel*>(QStringLiteral("StatusActiveFile"))->text();
  }

  ScriptedHost host_;
  NoBrowser noBrowser_;
  IUrlOpener* previous_ = nullptr;
  QByteArray home_;
};

TEST_F(FirstHourTest, ANewUsersFirstHour) {
  const QString data = Q(tmp_ / "data");
  const QString out = Q(tmp_ / "out");
  ASSERT_TRUE(QDir().mkpath(data + "/a") && QDir().mkpath(out));
  testutil::WriteFile(tmp_ / "data/a/x.txt", "x");

  TMainform w;
  w.FormCreate();
  w.show();
  ASSERT_TRUE(WaitFor([&] { return !w.context().FirstPaint; }));
  MainContext& ctx = w.context();

  // 1. The window is up and no box waits (the scripted host fails on any); what the start could
  // not do is in the status bar, with where the help page is.
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(host_.transcript().isEmpty()) << host_.Texts().join('|').toStdString();
  EXPECT_TRUE(Note(w).contains("The help is ")) << Note(w).toStdString();
  EXPECT_TRUE(Note(w).contains("arcavo-help.html")) << Note(w).toStdString();

  // 3. Before an archive is named the boxes show but do not tick; a click on one says why.
  TExplorerTree* tree = w.explorerTree();
  ExplorerTreeModel& model = ctx.Explorer->TreeModel();
  ASSERT_TRUE(tree->BrowseTo(data));
  QApplication::processEvents();
  QModelIndex at = model.IndexForPath(PathBytes(data));
  ASSERT_TRUE(at.isValid());
  EXPECT_TRUE(at.data(Qt::CheckStateRole).isValid());
  EXPECT_FALSE(at.flags() & Qt::ItemIsUserCheckable);
  const QRect r = tree->visualRect(at);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.left() + 6, r.center().y()));
  EXPECT_EQ(Note(w), TMainform::kNameArchiveFirst);
  EXPECT_EQ(at.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);

  // Folders made while the tree is open show up when their folder is opened again, and on F5.
  tree->expand(at);
  ASSERT_TRUE(QDir().mkdir(data + "/made-later"));
  tree->collapse(at);
  tree->expand(at);
  EXPECT_TRUE(model.IndexForPath(PathBytes(data + "/made-later")).isValid());
  ASSERT_TRUE(QDir().mkdir(data + "/made-after-that"));
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_F5);
  EXPECT_EQ(model.rowCount(model.IndexForPath(PathBytes(data))), 3);

  // 2. "NewZIP" proposes the home folder (not the folder ticked for backup); a folder that is not
  // there is said at OK; an absolute path typed after the proposal is taken as it is.
  QString proposed;
  bool stayedOpen = false;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<TSaveDlgWidget*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dlg);
    auto* edit = dlg->findChild<QLineEdit*>("SaveDlgEdit");
    proposed = edit->text();
    edit->setText(out + "/missing/test1");
    host_.Answer(IDOK,
                 "The folder " + out + "/missing does not exist.\rChoose or make a folder first");
    dlg->accept();
    stayedOpen = dlg->isVisible();
    edit->setText(proposed + out + "/test1");
    dlg->accept();
  });
  w.findChild<QPushButton*>(ctl::kNewZipButton)->click();
  EXPECT_EQ(proposed, Q(tmp_ / "home") + "/");
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(ctx.ZipName.startsWith(out + "/test1")) << ctx.ZipName.toStdString();
  // The reset of the ticks, lists and grid is said.
  EXPECT_EQ(Note(w), TNaming::kResetNote);
  // 3. Now the boxes tick.
  at = model.IndexForPath(PathBytes(data));
  EXPECT_TRUE(at.flags() & Qt::ItemIsUserCheckable);

  // 4. A one-of-many list chooses with a click on an item's caption.
  w.findChild<QTabWidget*>("PageControl1")->setCurrentIndex(1);
  QApplication::processEvents();
  auto* compression = w.findChild<TOptionListView*>(ctl::kCompressionList);
  ASSERT_TRUE(compression);
  const QRect low = compression->visualRect(compression->model()->index(opt::kCompLow, 0));
  QTest::mouseClick(compression->viewport(), Qt::LeftButton, {},
                    QPoint(low.right() - 4, low.center().y()));
  EXPECT_EQ(ctx.Lists->compressionList.CheckedIndex(), opt::kCompLow);

  // 5. The report box can be scrolled, selected and copied, but not typed into.
  auto* report = w.findChild<QPlainTextEdit*>(ctl::kReportBox);
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->isEnabled());
  EXPECT_TRUE(report->isReadOnly());
  for (int i = 0; i < 200; ++i) report->appendPlainText(QString("line %1").arg(i));
  w.findChild<QTabWidget*>("PageControl2")->setCurrentIndex(1);
  QApplication::processEvents();
  EXPECT_GT(report->verticalScrollBar()->maximum(), 0);

  // 6. "&&" in a box's text is one "&", in the box and in an unattended run's line.
  MbBox box;
  box.text = "Abort && Cancel operation?";
  EXPECT_EQ(MbUnattendedText(box), "Abort & Cancel operation?");

  // 7. The desktop's keys, each on one command; the button bar's Tab order runs left to right.
  const std::pair<const char*, QKeySequence> keys[] = {
      {"NewZip1", QKeySequence::New},    {"OpenJob1", QKeySequence::Open},
      {"SaveJob1", QKeySequence::Save},  {"Restore1", QKeySequence("Ctrl+R")},
      {"Exit1", QKeySequence("Ctrl+Q")}, {"HelpContents1", QKeySequence("F1")},
  };
  QMap<QString, QString> owner;
  for (QAction* a : w.findChildren<QAction*>())
    if (!a->shortcut().isEmpty()) {
      const QString k = a->shortcut().toString();
      EXPECT_FALSE(owner.contains(k)) << k.toStdString() << " twice";
      owner[k] = a->objectName();
    }
  for (const auto& [item, key] : keys)
    EXPECT_EQ(owner.value(key.toString()), item) << key.toString().toStdString();
  QWidget* bar = w.findChild<QWidget*>("ButtonBar");
  int x = -1;
  int seen = 0;
  for (QWidget* f = w.findChild<QWidget*>("ZipOpenBut"); f && f->parentWidget() == bar;
       f = f->nextInFocusChain()) {
    EXPECT_GT(f->x(), x) << f->objectName().toStdString();
    x = f->x();
    ++seen;
  }
  EXPECT_EQ(seen, 8);

  // 9. A later start with an archive opens it here for restore; one without anything brings the
  // window back to the front.
  const QString archive = Q(tmp_ / "handed.zip");
  testutil::WriteFile(tmp_ / "handed.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_TRUE(w.lifecycle().HandOver({archive, {}}).accepted);
  EXPECT_TRUE(WaitFor([&] { return ctx.ZipName == archive; })) << ctx.ZipName.toStdString();
  w.showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(w.lifecycle().HandOver({QString(), {}}).accepted);
  EXPECT_FALSE(w.isMinimized());

  EXPECT_TRUE(host_.transcript().size() == 1) << host_.Texts().join('|').toStdString();
  w.CloseWithoutQuestion();
}

}  // namespace
