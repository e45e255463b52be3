// The help's section pages and the feedback mails, without a window: what reaches the desktop's
// opener, read back with Python's own parsers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>
#include <cstdlib>
#include <filesystem>

#include "app/feedback.h"
#include "app/helppages.h"
#include "platform/osrelease.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;

struct RecordingOpener : IUrlOpener {
  QStringList urls;
  bool works = true;
  bool OpenUrl(const QString& url) override {
    urls << url;
    return works;
  }
};

// Runs the help checker of the tests on its arguments; its JSON answer.
QJsonObject Check(const char* mode, const QStringList& args) {
  std::string command = "python3 " +
                        testutil::Quote(std::string(std::getenv("ARCAVO_SOURCE_DIR")) +
                                        "/tests/support/helpcheck.py") +
                        " " + mode;
  for (const QString& a : args) command += " " + testutil::Quote(a.toStdString());
  const auto r = testutil::Run(command + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out;
  return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
}

mode_t ModeOf(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
  return st.st_mode & 07777;
}

TEST(HelpPages, OpenEachSectionThroughARedirectPageAndDropRepeatsWithinASecond) {
  TempDir tmp;
  IsolatedXdg xdg(tmp.path());
  ScriptedHost host;
  FakeClock clock;
  // A folder name that needs encoding in an address.
  const std::string dir = tmp / "help dir é#1";
  std::filesystem::create_directories(dir);
  const QString help = QString::fromStdString(dir + "/arcavo-help.html");
  testutil::WriteFile(help.toStdString(), "<html></html>");
  THelpPages pages({QString::fromStdString(tmp / "missing.html"), help});
  RecordingOpener opener;

  // (context, milliseconds since the step before, whether a page opens)
  const struct {
    int context;
    int after;
    bool opens;
  } steps[] = {{1, 0, true}, {1, 10, false},  {1, 980, false}, {39, 5, true},
               {1, 5, true}, {1, 999, false}, {1, 1, true},    {45, 0, true}};
  QMap<QString, int> opened;  // page -> its section
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "context " << s.context << " after " << s.after);
    clock.Advance(s.after);
    const qsizetype before = opener.urls.size();
    EXPECT_TRUE(pages.Open(s.context, opener));
    ASSERT_EQ(opener.urls.size(), before + (s.opens ? 1 : 0));
    if (!s.opens) continue;
    // The opener gets the generated page, in the private runtime folder.
    const QUrl page = QUrl::fromEncoded(opener.urls.last().toLatin1(), QUrl::StrictMode);
    ASSERT_TRUE(page.isLocalFile()) << opener.urls.last().toStdString();
    EXPECT_EQ(page.toLocalFile(), QString::fromStdString(tmp / "runtime/arcavo/help-ctx") +
                                      QString::number(s.context) + ".html");
    EXPECT_EQ(ModeOf(QString::fromStdString(tmp / "runtime/arcavo")), 0700u);
    EXPECT_EQ(ModeOf(page.toLocalFile()), 0600u);
    opened[page.toLocalFile()] = s.context;
  }
  // Every way each page sends the browser on leads to its section of the help file.
  const QJsonObject redirects = Check("redirect", opened.keys());
  for (auto [page, context] : opened.asKeyValueRange()) {
    const QJsonObject r = redirects[page].toObject();
    for (const char* how : {"refresh", "script", "link"}) {
      const QUrl target = QUrl::fromEncoded(r[how].toString().toLatin1(), QUrl::StrictMode);
      EXPECT_EQ(target.toLocalFile(), help) << how;
      EXPECT_EQ(target.fragment(), "ctx" + QString::number(context)) << how;
    }
  }
  // No temporary was left beside the pages.
  for (const auto& e : std::filesystem::directory_iterator(tmp / "runtime/arcavo"))
    EXPECT_EQ(e.path().filename().string().rfind("help-ctx", 0), 0u) << e.path();
  EXPECT_TRUE(host.transcript().isEmpty());
}

TEST(HelpPages, SayWhyWhenThereIsNoHelpNoOpenerOrNoPrivateFolder) {
  TempDir tmp;
  IsolatedXdg xdg(tmp.path());
  ScriptedHost host;
  FakeClock clock;
  const QString help = QString::fromStdString(tmp / "arcavo-help.html");
  testutil::WriteFile(help.toStdString(), "<html></html>");
  RecordingOpener opener;

  // No help: the box names every place looked at, and nothing is opened.
  const QStringList nowhere = {QString::fromStdString(tmp / "a/help.html"),
                               QString::fromStdString(tmp / "b/help.html")};
  host.Answer(IDOK, "The help was not found. It was looked for at:\r" + nowhere.join('\r'));
  EXPECT_FALSE(THelpPages(nowhere).Open(1, opener));
  EXPECT_TRUE(opener.urls.isEmpty());

  // No program to show it: said, and a retry at once is not taken for a repeat.
  THelpPages pages({help});
  opener.works = false;
  host.Answer(IDOK);
  EXPECT_FALSE(pages.Open(1, opener));
  EXPECT_TRUE(host.Texts().last().contains("xdg-open")) << host.Texts().last().toStdString();
  opener.works = true;
  EXPECT_TRUE(pages.Open(1, opener));
  EXPECT_EQ(opener.urls.size(), 2);

  // A link in place of the runtime folder is not followed: the pages go to a private folder in
  // the temporary folder instead; so they do without a runtime folder.
  std::filesystem::create_directories(tmp / "elsewhere");
  std::filesystem::remove_all(tmp / "runtime/arcavo");
  ASSERT_EQ(::symlink((tmp / "elsewhere").c_str(), (tmp / "runtime/arcavo").c_str()), 0);
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  std::filesystem::create_directories(tmp / "tmp");
  ::setenv("TMPDIR", (tmp / "tmp").c_str(), 1);
  const QString fallback =
      QString::fromStdString(tmp / "tmp/arcavo-") + QString::number(::getuid());
  EXPECT_EQ(HelpPageFolder(), fallback);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(HelpPageFolder(), fallback);
  EXPECT_EQ(ModeOf(fallback), 0700u);
  EXPECT_TRUE(pages.Open(39, opener));
  EXPECT_TRUE(opener.urls.last().startsWith(QUrl::fromLocalFile(fallback).toString()));
  EXPECT_TRUE(std::filesystem::is_empty(tmp / "elsewhere"));
  if (oldTmp)
    ::setenv("TMPDIR", savedTmp.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

TEST(Feedback, MailtoParsedBackGivesAddressSubjectsAndBodyWithEveryCharacterIntact) {
  TFeedbackFacts f;
  f.version = "1.0.0";
  f.versionDigits = "100";
  f.system = "Débian 12 \"bookworm\" & co? #1 100% + more";
  f.kernel = "Linux 6.1.0 x86_64";
  f.qtVersion = "6.4.2";
  f.locale = "de_DE";
  f.closingText = "    Backup incomplete    \r3 files left out (see the report)";
  f.lastBurnError = "Disc ünreadable: sector #7 & more";
  for (const bool bug : {true, false}) {
    SCOPED_TRACE(bug ? "bug report" : "information request");
    const QString url = FeedbackMailUrl(bug, f);
    // Nothing that ends or splits a field is left bare.
    EXPECT_FALSE(url.mid(7).contains(QRegularExpression("[ #+\r\n]|&(?!body=)")))
        << url.toStdString();
    const QJsonObject r = Check("mailto", {url});
    EXPECT_EQ(r["scheme"].toString(), "mailto");
    EXPECT_EQ(r["address"].toString(), kSupportAddress);
    EXPECT_EQ(r["subject"].toString(),
              bug ? "Arcavo V100 bug report" : "Arcavo V100 information request");
    const QStringList lines = r["body"].toString().split("\r\n");
    for (const QString& want :
         {QString("Version: Arcavo V100 (1.0.0)"), "System: " + f.system,
          QString("Kernel: Linux 6.1.0 x86_64"), QString("Qt: 6.4.2"), QString("Locale: de_DE")})
      EXPECT_TRUE(lines.contains(want)) << want.toStdString();
    const QStringList bugOnly = {"Last run:", "  Backup incomplete",
                                 "  3 files left out (see the report)",
                                 "Last disc-writing error:", "  Disc ünreadable: sector #7 & more"};
    for (const QString& want : bugOnly) EXPECT_EQ(lines.contains(want), bug) << want.toStdString();
  }
}

TEST(Feedback, OsReleaseNamesTheSystemAsTheShellWouldReadIt) {
  const std::string file =
      "# comment\nNAME=\"Debian GNU/Linux\"\nPRETTY_NAME='It'\\''s \"quoted\"'\n"
      "ID=bare\\ word\nVERSION_ID=\"unclosed\nHOME_URL=\"a\\\"b\\\\c\\$d\"  \r\n";
  const struct {
    const char* key;
    const char* value;
  } rows[] = {{"NAME", "Debian GNU/Linux"}, {"PRETTY_NAME", "It's \"quoted\""}, {"ID", "bare word"},
              {"VERSION_ID", ""},           {"HOME_URL", "a\"b\\c$d"},          {"MISSING", ""}};
  for (const auto& r : rows) EXPECT_EQ(OsReleaseValue(file, r.key), r.value) << r.key;
  // A later line wins; a file without a name, or none at all, gives "Linux".
  EXPECT_EQ(OsReleaseValue("PRETTY_NAME=a\nPRETTY_NAME=b\n", "PRETTY_NAME"), "b");
  TempDir tmp;
  testutil::WriteFile(tmp / "os-release", "PRETTY_NAME=\"Test OS 1\"\n");
  testutil::WriteFile(tmp / "nameless", "ID=x\n");
  EXPECT_EQ(SystemFeedbackFacts(QString::fromStdString(tmp / "os-release")).system, "Test OS 1");
  EXPECT_EQ(OsPrettyName(tmp / "nameless"), "Linux");
  EXPECT_EQ(OsPrettyName(tmp / "none"), "Linux");
}

}  // namespace
