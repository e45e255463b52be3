// The window's side of the progress and report handlers: the report box, the gauge, the disc
// picture, the tray icon and the pages, found in the main window by their objectNames; and the
// binding of the report box's buttons and menu items to TRunReport.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QPointer>

#include "backup/reporthosts.h"
#include "ui/bindings.h"

class QLabel;
class QProgressBar;
class QPlainTextEdit;
class QTimer;
class TMainform;
class TRunReport;

class TWindowReport : public QObject, public IProgressHost, public IReportBox {
  Q_OBJECT
 public:
  explicit TWindowReport(TMainform& form);
  ~TWindowReport() override;

  // IReportBox
  void Clear() override;
  void Add(const QString& text) override;
  QStringList Lines() const override;
  void SetLines(const QStringList& lines) override;
  void ScrollToCaret() override;
  void SetPlainText(bool on) override;
  void SetWordWrap(bool on) override;
  void SetReadOnly(bool on) override;
  void SetWantReturns(bool on) override;
  void SetHint(const QString& hint) override;
  // The number of lines, as Lines().size(), without copying them.
  int LineCount() const;
  // Puts the lines added (and not yet shown) into the box.
  void Flush();

  // IProgressHost
  void SetGaugeMoving(bool moving) override;
  void SetGaugePosition(int percent) override;
  void DiscAnimation(bool on) override;
  void SetNormalCursor() override;
  bool TrayIconShown() const override;
  void TrayAnimation(bool on) override;
  void TrayIcon(int picture) override;
  void SetTrayHint(const QString& hint) override;
  bool WindowHidden() const override;
  void ShowReportPage() override;
  void SetControlAlarm(const QString& control, bool on) override;
  void SetTabHighlight(bool inner, int index, bool on) override;
  QDateTime DatePickerValue() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A flush on the next turn of the event loop, when the box is shown.
  void QueueFlush();
  TMainform& form_;
  QPointer<QPlainTextEdit> box_;
  QPointer<QProgressBar> gauge_;
  QPointer<QLabel> disc_;
  QPixmap discPicture_[2];
  QIcon trayPicture_[2];  // 0 waiting, 1 idle
  QTimer* discTimer_ = nullptr;
  QTimer* trayTimer_ = nullptr;
  int discFrame_ = 0;
  int trayFrame_ = 0;
  bool wantReturns_ = false;
  // The box holds lines (an empty document may still hold one empty line).
  bool hasLines_ = false;
  // Lines added and not yet in the box; whether a flush is queued, and a scroll after it.
  QStringList pending_;
  bool flushQueued_ = false;
  bool scrollPending_ = false;
};

// The bindings of "SavetoRTF File", "WordWrap", "Clear Comments", "SaveComment", "ReportToZIP",
// "&Zip comment" and "ZIPcomment" to the report's commands. ("FullBackupReport" is a menu
// preference the window's settings toggle and store; the report reads it from there.)
TBindings ReportBindings(TRunReport& report);
// "WordWrap" becomes a check item showing the report's state.
void PrepareReportControls(TMainform& form, TRunReport& report);
