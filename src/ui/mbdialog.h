// The window's message boxes and notice window.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QVector>

#include "app/mb.h"

class QLabel;
class QProgressBar;
class QPushButton;

// A modal box: icon, text and freely captioned buttons. It has no working close button and ends
// only through one of its buttons; Escape presses Cancel/No when the box has one.
class TMbDialog : public QDialog {
  Q_OBJECT
 public:
  TMbDialog(const MbBox& box, QWidget* owner);

  const QVector<QPushButton*>& buttons() const { return buttons_; }
  // Number of button rows and the buttons per row, as laid out.
  QVector<int> rowSizes() const { return rowSizes_; }
  QString shownText() const;

  // Buttons per row for n buttons: three per row, four as two rows of two, ten or more four
  // per row.
  static QVector<int> RowSizesFor(int n);
  // The text as displayed: "\r\n" and "\r" become line breaks, "&&" one "&".
  static QString DisplayText(const QString& text);

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QVector<QPushButton*> buttons_;
  QVector<int> rowSizes_;
  QLabel* textLabel_ = nullptr;
  // The button Escape presses; null when Escape does nothing.
  QPushButton* EscapeButton() const;
  int cancelIndex_ = -1;
};

// The modeless notice: text, optional gauge and optional Cancel button.
class TMbNoticeWindow : public QDialog {
  Q_OBJECT
 public:
  TMbNoticeWindow(const MbNoticeSpec& spec, QWidget* owner);
  void Step(int n);
  QProgressBar* gauge() const { return gauge_; }
  QPushButton* cancelButton() const { return cancel_; }

 protected:
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;

 private:
  QProgressBar* gauge_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPointer<QObject> target_;
};

// Draws the program's boxes with the dialogs above.
class QtMbHost : public IMbHost {
 public:
  // mainWindow: the program's window, brought to the front by every box.
  explicit QtMbHost(QWidget* mainWindow = nullptr) : main_(mainWindow) {}
  void SetMainWindow(QWidget* w) { main_ = w; }

  int ShowBox(const MbBox& box) override;
  QString ActiveCaption() override;
  void OpenNotice(const MbNoticeSpec& spec) override;
  void StepNotice(int n) override;
  void CloseNotice() override;
  TMbNoticeWindow* notice() const { return notice_; }

 private:
  void BringToFront();
  QPointer<QWidget> main_;
  QPointer<TMbNoticeWindow> notice_;
};
