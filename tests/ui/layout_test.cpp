// The main window and its dialogs show every text in full: captions of labels, buttons, group
// boxes, tabs and column headers, the texts of edits and drop-down lists and every option-list
// item, on every tab, at the test font, with "Large Fonts" and with a larger application font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>
#include <memory>

#include "app/mb.h"
#include "platform/programdir.h"
#include "shots/fitcheck.h"
#include "testutil.h"
#include "ui/mainform.h"
#include "windowtest.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;
using testutil::WriteFile;

class LayoutTest : public WindowTestBase {
 protected:
  LayoutTest() : WindowTestBase("ClrDisk=0\nExpert=1\n") {}

  // Walks every tab and inner tab of a shown window; fails naming the first clipped text.
  static void ExpectEveryTextFits(TMainform& w, const char* when) {
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    auto* inner = w.findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    ASSERT_TRUE(pages && inner);
    for (int page = 0; page < pages->count(); ++page) {
      pages->setCurrentIndex(page);
      const int inners = page == pages->indexOf(inner->parentWidget()) ? inner->count() : 1;
      for (int sub = 0; sub < inners; ++sub) {
        if (inners > 1) inner->setCurrentIndex(sub);
        QApplication::processEvents();
        EXPECT_EQ(FirstClipped(&w).toStdString(), "")
            << when << ", tab " << pages->tabText(page).toStdString()
            << (inners > 1 ? " / " + inner->tabText(sub).toStdString() : std::string());
      }
    }
  }

  // Opens every dialog of the window over it in turn; fails naming the first clipped text.
  static void ExpectEveryDialogFits(TMainform& w, const char* when) {
    for (const TDialogCase& d : DialogCases()) {
      std::unique_ptr<QWidget> dialog(d.make(&w));
      dialog->show();
      QApplication::processEvents();
      EXPECT_EQ(FirstClipped(dialog.get()).toStdString(), "") << when << ", dialog " << d.name;
    }
  }
};

TEST_F(LayoutTest, EveryTextOfEveryTabAndDialogShowsInFull) {
  {
    TMainform w;
    w.FormCreate();
    w.show();
    QApplication::processEvents();
    ExpectEveryTextFits(w, "test font");
    ExpectEveryDialogFits(w, "test font");
    // The window is no larger than its content needs beyond its usual size.
    EXPECT_GE(w.width(), w.minimumSizeHint().width());
    auto* large = w.findChild<QCheckBox*>(QStringLiteral("LargeFontsCheck"));
    ASSERT_TRUE(large);
    w.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(2);
    QApplication::processEvents();
    large->click();
    ASSERT_TRUE(large->isChecked());
    ExpectEveryTextFits(w, "Large Fonts");
    ExpectEveryDialogFits(w, "Large Fonts");
    w.CloseWithoutQuestion();
  }
  // No fixed geometry holds text: a much larger application font still fits everywhere.
  const QFont saved = QApplication::font();
  QFont big = saved;
  big.setPointSize(14);
  QApplication::setFont(big);
  {
    TMainform w;
    w.FormCreate();
    w.show();
    QApplication::processEvents();
    ExpectEveryTextFits(w, "14 pt application font");
    ExpectEveryDialogFits(w, "14 pt application font");
    w.CloseWithoutQuestion();
  }
  QApplication::setFont(saved);
}

}  // namespace
