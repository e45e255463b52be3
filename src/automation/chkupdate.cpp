#include "automation/chkupdate.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

TChkUpdate::TChkUpdate(QObject* parent) : QObject(parent) {
  idle_ = new QTimer(this);
  idle_->setSingleShot(true);
  idle_->setInterval(kIdleTimeoutMs);
  connect(idle_, &QTimer::timeout, this, [this] { Fail(QStringLiteral("no data")); });
  total_ = new QTimer(this);
  total_->setSingleShot(true);
  total_->setInterval(kTotalTimeoutMs);
  connect(total_, &QTimer::timeout, this, [this] { Fail(QStringLiteral("timed out")); });
}

TChkUpdate::~TChkUpdate() {
  Release();
}

bool TChkUpdate::Check() {
  if (busy_) return false;
  busy_ = true;
  page_.clear();
  const QUrl url(URL.trimmed());
  if (URL.trimmed().isEmpty() || !url.isValid()) {
    // Told from the event loop like every other outcome.
    QTimer::singleShot(0, this, [this] { Fail(QStringLiteral("no update address")); });
    return true;
  }
  if (!net_) {
    net_ = new QNetworkAccessManager(this);
    // Straight to the server: no proxy of the environment, nothing from or into a cache.
    net_->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
  }
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
  request.setHeader(QNetworkRequest::UserAgentHeader, userAgent_);
  QNetworkReply* reply = net_->get(request);
  reply_ = reply;
  connect(reply, &QNetworkReply::readyRead, this, &TChkUpdate::ReadSome);
  connect(reply, &QNetworkReply::finished, this, &TChkUpdate::ReplyFinished);
  idle_->start();
  total_->start();
  return true;
}

void TChkUpdate::ReadSome() {
  if (!reply_) return;
  idle_->start();
  const QByteArray more = reply_->read(kMaxBytes - page_.size());
  page_ += more;
  // Enough of the page: the rest is never read.
  if (page_.size() >= kMaxBytes) ReplyFinished();
}

void TChkUpdate::ReplyFinished() {
  if (!reply_) return;
  if (page_.size() < kMaxBytes) page_ += reply_->read(kMaxBytes - page_.size());
  const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const bool complete = page_.size() >= kMaxBytes;
  // A reply cut short after enough bytes is no error; any other failure is.
  if (!complete && reply_->error() != QNetworkReply::NoError) {
    Fail(reply_->errorString());
    return;
  }
  if (status < 200 || status > 299) {
    Fail(QStringLiteral("HTTP status %1").arg(status));
    return;
  }
  if (page_.isEmpty()) {
    Fail(QStringLiteral("empty page"));
    return;
  }
  Release();
  const bool found = Newer(PageRevision(page_), Revision);
  if (found) {
    const bool launch = OnFound && OnFound();
    if (launch && !Homepage.trimmed().isEmpty() && opener_) opener_->OpenUrl(Homepage.trimmed());
  } else if (OnNotFound) {
    OnNotFound();
  }
  Finish();
}

void TChkUpdate::Fail(const QString& reason) {
  if (!busy_) return;
  Release();
  if (OnError) OnError(reason);
  Finish();
}

void TChkUpdate::Finish() {
  busy_ = false;
  if (OnDone) OnDone();
}

void TChkUpdate::Release() {
  idle_->stop();
  total_->stop();
  if (QNetworkReply* reply = reply_) {
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
}

int TChkUpdate::PageRevision(const QByteArray& page) {
  const QByteArray text = page.left(kMaxBytes).toLower();
  const qsizetype marker = text.indexOf("--rev");
  if (marker < 0) return -1;
  // The marker and one separator character, then blanks and digits.
  QByteArray number;
  for (qsizetype i = marker + 6; i < text.size(); ++i) {
    const char c = text[i];
    if (c != ' ' && (c < '0' || c > '9')) break;
    number += c;
  }
  bool ok = false;
  const int value = number.trimmed().toInt(&ok);
  return ok ? value : 0;
}
