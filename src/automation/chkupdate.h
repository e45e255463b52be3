// The update check: reads the first bytes of the update server's revision page over HTTP and
// looks for the marker "--rev" followed by one separator and the revision number.
//
// The check is asynchronous: Check() returns at once and one of OnFound, OnNotFound or OnError
// is called later from the event loop, then OnDone. Only a page that could be read and holds no
// newer revision counts as "not found"; a refused connection, an HTTP error, a time-out or an
// empty page is an error, so the user is not told that the program is up to date when nothing
// was learned.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "app/urlopener.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class TChkUpdate : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxBytes = 1024;
  static constexpr int kIdleTimeoutMs = 10000;
  static constexpr int kTotalTimeoutMs = 20000;

  explicit TChkUpdate(QObject* parent = nullptr);
  ~TChkUpdate() override;

  // The revision page's address; empty: every check is an error, without network access.
  QString URL;
  // The page opened when an update is found and OnFound asks for it.
  QString Homepage;
  // The running program's revision (version "6.0.0.0" gives 6000).
  int Revision = 0;
  // An update was found; returns whether Homepage is to be opened.
  std::function<bool()> OnFound;
  // The page was read and names no newer revision.
  std::function<void()> OnNotFound;
  // Nothing usable could be read (the reason, for the log).
  std::function<void(const QString& reason)> OnError;
  // After any of the three.
  std::function<void()> OnDone;

  void SetUserAgent(const QString& agent) { userAgent_ = agent; }
  // Not owned; null: Homepage is never opened.
  void SetUrlOpener(IUrlOpener* opener) { opener_ = opener; }

  // Starts a check; false (and nothing happens) while one is running.
  bool Check();
  bool Busy() const { return busy_; }

  // What the first kMaxBytes of a page say: the revision after the marker (0 when it is not a
  // number), or -1 when the page holds no marker.
  static int PageRevision(const QByteArray& page);
  // An update is found when the low 16 bits of the page's revision exceed revision.
  static bool Newer(int pageRevision, int revision) {
    return pageRevision >= 0 && (pageRevision & 0xFFFF) > revision;
  }

 private:
  void ReadSome();
  void ReplyFinished();
  void Fail(const QString& reason);
  void Finish();
  void Release();

  QNetworkAccessManager* net_ = nullptr;
  QPointer<QNetworkReply> reply_;
  QTimer* idle_ = nullptr;
  QTimer* total_ = nullptr;
  QByteArray page_;
  QString userAgent_ = QStringLiteral("Arcavo");
  IUrlOpener* opener_ = nullptr;
  bool busy_ = false;
};
