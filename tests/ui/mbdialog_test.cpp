#include "ui/mbdialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Runs action on the modal box once it is up, then (if it is still up) fails and ends it.
class BoxDriver {
 public:
  explicit BoxDriver(std::function<void(TMbDialog*)> action) : action_(std::move(action)) {
    QTimer::singleShot(0, [this] { Poll(); });
  }
  bool ran() const { return ran_; }

 private:
  void Poll() {
    auto* dlg = qobject_cast<TMbDialog*>(QApplication::activeModalWidget());
    if (!dlg) {
      QTimer::singleShot(5, [this] { Poll(); });
      return;
    }
    ran_ = true;
    action_(dlg);
  }
  std::function<void(TMbDialog*)> action_;
  bool ran_ = false;
};

struct HostFixture : ::testing::Test {
  QMainWindow main;
  QtMbHost host{&main};
  void SetUp() override {
    main.setWindowTitle("Arcavo V100");
    SetMbHost(&host);
  }
  void TearDown() override { SetMbHost(nullptr); }
};

}  // namespace

TEST(MbDialogLayout, RowsOfButtons) {
  EXPECT_EQ(TMbDialog::RowSizesFor(1), (QVector<int>{1}));
  EXPECT_EQ(TMbDialog::RowSizesFor(3), (QVector<int>{3}));
  EXPECT_EQ(TMbDialog::RowSizesFor(4), (QVector<int>{2, 2}));
  EXPECT_EQ(TMbDialog::RowSizesFor(5), (QVector<int>{3, 2}));
  EXPECT_EQ(TMbDialog::RowSizesFor(9), (QVector<int>{3, 3, 3}));
  EXPECT_EQ(TMbDialog::RowSizesFor(10), (QVector<int>{4, 4, 2}));
  const std::pair<QString, QString> texts[] = {
      {"a\r\nb\rc\nd", "a\nb\nc\nd"},
      {"Abort && Cancel operation?", "Abort & Cancel operation?"},
      {"R&&D &&&& more & less", "R&D && more & less"},
  };
  for (const auto& [text, shown] : texts) EXPECT_EQ(TMbDialog::DisplayText(text), shown);
}

TEST_F(HostFixture, EnterPressesTheDefaultChoice) {
  BoxDriver drive([](TMbDialog* dlg) {
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
    ASSERT_EQ(dlg->buttons().size(), 2);
    EXPECT_TRUE(dlg->buttons()[1]->isDefault());
    QTest::keyClick(dlg, Qt::Key_Return);
  });
  EXPECT_EQ(MbChoice("Go on?", "Arcavo", 2, "Continue|Cancel"), 12);
  EXPECT_TRUE(drive.ran());
}

TEST_F(HostFixture, OuterBarsGiveTwoButtons) {
  BoxDriver drive([](TMbDialog* dlg) {
    ASSERT_EQ(dlg->buttons().size(), 2);
    EXPECT_EQ(dlg->buttons()[0]->text(), "Retry");
    EXPECT_EQ(dlg->buttons()[1]->text(), "Skip");
    dlg->buttons()[0]->click();
  });
  EXPECT_EQ(MbChoice("File is open", "Arcavo", 1, "|Retry|Skip|"), 11);
}

TEST_F(HostFixture, EscapeAndCloseAnswerAnOkOnlyBoxAndNothingWithoutCancel) {
  // A box with one button: Escape and the title bar's close button both answer it.
  for (const bool escape : {true, false}) {
    BoxDriver drive([escape](TMbDialog* dlg) {
      EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint) << "plain boxes are on top too";
      EXPECT_TRUE(dlg->windowFlags() & Qt::WindowCloseButtonHint);
      EXPECT_EQ(dlg->shownText(), "line 1\nline 2");
      ASSERT_NE(dlg->findChild<QLabel*>("icon"), nullptr);
      if (escape) {
        QTest::keyClick(dlg, Qt::Key_Escape);
      } else {
        QCloseEvent close;
        QApplication::sendEvent(dlg, &close);
      }
    });
    EXPECT_EQ(MbInfo("line 1\rline 2"), IDOK);
    EXPECT_TRUE(drive.ran());
  }
  // Two choices and neither is Cancel or No: Escape and close leave the choice to the user.
  BoxDriver drive([](TMbDialog* dlg) {
    QTest::keyClick(dlg, Qt::Key_Escape);
    QCloseEvent close;
    QApplication::sendEvent(dlg, &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_TRUE(dlg->isVisible());
    dlg->buttons()[1]->click();
  });
  EXPECT_EQ(MbChoice("File is open", "Arcavo", 1, "Retry|Skip"), 12);
}

TEST_F(HostFixture, EscapePressesCancelOrNo) {
  BoxDriver drive([](TMbDialog* dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
  EXPECT_EQ(MbMessage("Sure?", "Arcavo", true, MB_YESNO + MB_ICONQUESTION), IDNO);
  BoxDriver drive2([](TMbDialog* dlg) { QTest::keyClick(dlg, Qt::Key_Escape); });
  EXPECT_EQ(MbMessage("Cancel?", "Arcavo", true, MB_OKCANCEL + MB_ICONEXCLAMATION), IDCANCEL);
}

TEST_F(HostFixture, BoxRestoresMinimisedWindowAndTakesItsCaption) {
  main.showMinimized();
  BoxDriver drive([this](TMbDialog* dlg) {
    EXPECT_FALSE(main.isMinimized());
    EXPECT_EQ(dlg->windowTitle(), "Arcavo V100");
    EXPECT_EQ(dlg->rowSizes(), (QVector<int>{2, 2}));
    dlg->buttons()[3]->click();
  });
  // An empty caption falls back to the active window's caption.
  QApplication::setActiveWindow(&main);
  EXPECT_EQ(MbChoice("Pick", QString(), 1, "A|B|C|D"), 14);
}

TEST_F(HostFixture, NoticeWithGaugeAndCancelPostsAbortOrder) {
  struct Target : QObject {
    int cancels = 0;
    bool event(QEvent* e) override {
      if (e->type() == QEvent::Type(kNoticeCancelEventType)) {
        ++cancels;
        return true;
      }
      return QObject::event(e);
    }
  } target;
  MbNoticeSpec spec;
  spec.text = "Reading archive";
  spec.caption = "Arcavo";
  spec.withCancel = true;
  spec.withGauge = true;
  spec.cancelTarget = &target;
  spec.gaugeMax = 10;
  ASSERT_TRUE(MbNotice(spec));
  EXPECT_FALSE(MbNoticeText("other", "x"));
  ASSERT_NE(host.notice(), nullptr);
  EXPECT_TRUE(host.notice()->isVisible());
  EXPECT_TRUE(MbNoticeStep(4));
  EXPECT_EQ(host.notice()->gauge()->value(), 4);
  host.notice()->cancelButton()->click();
  QApplication::processEvents();
  EXPECT_EQ(target.cancels, 1);
  EXPECT_TRUE(MbNoticeClose());
  EXPECT_EQ(host.notice(), nullptr);
}
