// The update check against servers on 127.0.0.1 only: python's http.server over a scratch
// folder, a socket that accepts and never answers, and a port nobody listens on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>

#include "automation/chkupdate.h"
#include "testutil.h"

namespace {

using testutil::TempDir;
using testutil::WriteFile;

struct FakeOpener : IUrlOpener {
  QStringList opened;
  bool OpenUrl(const QString& url) override {
    opened << url;
    return true;
  }
};

// A python process that prints its port on the first line of its output.
class PythonServer {
 public:
  explicit PythonServer(const QStringList& args) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(QStringLiteral("python3"), QStringList{QStringLiteral("-u")} + args);
    QByteArray seen;
    while (process_.waitForReadyRead(10000)) {
      seen += process_.readAll();
      static const QRegularExpression kPort(QStringLiteral("port (\\d+)|^(\\d+)\\s"));
      const QRegularExpressionMatch m = kPort.match(QString::fromUtf8(seen));
      if (m.hasMatch()) {
        port_ = (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)).toInt();
        return;
      }
    }
    ADD_FAILURE() << "server did not start: " << seen.toStdString();
  }
  ~PythonServer() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  int port() const { return port_; }

 private:
  QProcess process_;
  int port_ = 0;
};

// Runs one check to its end; the outcome is "found", "no update" or "error".
struct Outcome {
  QString result;
  qint64 ms = 0;
};

Outcome RunCheck(TChkUpdate& check) {
  Outcome out;
  QEventLoop loop;
  check.OnFound = [&] {
    out.result = QStringLiteral("found");
    return true;
  };
  check.OnNotFound = [&] { out.result = QStringLiteral("no update"); };
  check.OnError = [&](const QString&) { out.result = QStringLiteral("error"); };
  check.OnDone = [&] { loop.quit(); };
  QElapsedTimer clock;
  clock.start();
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  EXPECT_TRUE(check.Check());
  EXPECT_TRUE(check.Busy());
  EXPECT_FALSE(check.Check());  // one at a time
  loop.exec();
  out.ms = clock.elapsed();
  EXPECT_FALSE(check.Busy());
  return out;
}

TEST(ChkUpdateTest, PageRevisionReadsTheNumberAfterTheMarker) {
  const struct {
    const char* page;
    int revision;
  } rows[] = {
      {"--rev: 6100", 6100},  {"x\n--REV=6100\n", 6100},
      {"--rev:   42abc", 42}, {"--rev: 61 00", 0},
      {"--rev:", 0},          {"--rev", 0},
      {"revision 6100", -1},  {"", -1},
  };
  for (const auto& row : rows)
    EXPECT_EQ(TChkUpdate::PageRevision(row.page), row.revision) << row.page;
  EXPECT_TRUE(TChkUpdate::Newer(6100, 6000));
  EXPECT_FALSE(TChkUpdate::Newer(6000, 6000));
  EXPECT_FALSE(TChkUpdate::Newer(70000, 6000));  // 70000 & 0xFFFF is 4464
  EXPECT_FALSE(TChkUpdate::Newer(-1, 6000));
}

TEST(ChkUpdateTest, ChecksAgainstLocalServers) {
  TempDir dir;
  const std::string pad(1022, 'x');
  const struct {
    const char* file;
    std::string body;
  } pages[] = {
      {"newer", "Arcavo\n--rev: 6100\n"},
      {"same", "--rev: 6000"},
      {"upper", "--REV=6100"},
      {"crlf", "--rev: 6100 \r\n"},
      {"late", pad + "--rev: 6100"},
      {"wrapped", "--rev:70000"},
      {"empty", ""},
  };
  for (const auto& p : pages) WriteFile(dir / p.file, p.body);
  PythonServer http({"-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                     QString::fromStdString(dir.path())});
  PythonServer stall({"-c",
                      "import socket, time\n"
                      "s = socket.socket()\n"
                      "s.bind(('127.0.0.1', 0))\n"
                      "s.listen()\n"
                      "print(s.getsockname()[1], '', flush=True)\n"
                      "c = s.accept()\n"
                      "time.sleep(120)\n"});
  ASSERT_GT(http.port(), 0);
  ASSERT_GT(stall.port(), 0);
  int closedPort = 0;
  {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    closedPort = probe.serverPort();
  }
  const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(http.port());

  const struct {
    const char* name;
    QString url;
    const char* result;
    bool deadProxy = false;
  } rows[] = {
      {"newer", base + "newer", "found"},
      {"same", base + "same", "no update"},
      {"upper case", base + "upper", "found"},
      {"blank and CRLF", base + "crlf", "found"},
      {"marker past 1024 bytes", base + "late", "no update"},
      {"wraps to 4464", base + "wrapped", "no update"},
      {"404", base + "missing", "error"},
      {"empty body", base + "empty", "error"},
      {"refused", QStringLiteral("http://127.0.0.1:%1/rev").arg(closedPort), "error"},
      {"no address", QString(), "error"},
      {"dead proxy", base + "newer", "found", true},
      {"stall", QStringLiteral("http://127.0.0.1:%1/rev").arg(stall.port()), "error"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.deadProxy) qputenv("http_proxy", "http://127.0.0.1:9");
    FakeOpener opener;
    TChkUpdate check;
    check.URL = row.url;
    check.Homepage = QStringLiteral("https://example.invalid/download");
    check.Revision = 6000;
    check.SetUrlOpener(&opener);
    const Outcome out = RunCheck(check);
    qunsetenv("http_proxy");
    EXPECT_EQ(out.result, QString::fromLatin1(row.result));
    EXPECT_EQ(opener.opened,
              out.result == QLatin1String("found") ? QStringList{check.Homepage} : QStringList{});
    EXPECT_LT(out.ms, 25000);
  }
}

}  // namespace
