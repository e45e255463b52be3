// Writes a picture of every tab of the main window into a folder, for looking at the layout on a
// real display server (xvfb-run) or offscreen:
//
//   xvfb-run -a build/debug/tests/ui/window_shots OUTDIR [--large-fonts] [--point-size N]
//
// The window runs with private settings folders under OUTDIR, so the user's own settings are
// neither read nor changed.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "platform/programdir.h"
#include "ui/mainform.h"

namespace {

// Private settings folders under out, set before Qt reads any of them.
void UsePrivateFolders(const QString& out) {
  const struct {
    const char* var;
    const char* dir;
  } xdg[] = {{"XDG_CONFIG_HOME", "config"},
             {"XDG_STATE_HOME", "state"},
             {"XDG_DATA_HOME", "data"},
             {"XDG_RUNTIME_DIR", "runtime"}};
  for (const auto& x : xdg) {
    const QString dir = out + QStringLiteral("/xdg/") + QLatin1String(x.dir);
    QDir().mkpath(dir);
    QFile::setPermissions(dir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ::setenv(x.var, qPrintable(dir), 1);
  }
  QDir().mkpath(out + QStringLiteral("/xdg/config/arcavo"));
  // A settings file that has been through the first run, so no first-run question comes up.
  QFile ini(out + QStringLiteral("/xdg/config/arcavo/default.ini"));
  if (ini.open(QIODevice::WriteOnly)) ini.write("[Options]\nClrDisk=0\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: window_shots OUTDIR [--large-fonts] [--point-size N]\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  UsePrivateFolders(out);
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(2);
  bool large = false;
  int points = 0;
  while (!args.isEmpty()) {
    const QString a = args.takeFirst();
    if (a == QLatin1String("--large-fonts"))
      large = true;
    else if (a == QLatin1String("--point-size") && !args.isEmpty())
      points = args.takeFirst().toInt();
  }
  if (points > 0) {
    QFont f = QApplication::font();
    f.setPointSize(points);
    QApplication::setFont(f);
  }
  ResetProgramDirForTest();
  TMainform w;
  w.FormCreate();
  w.show();
  if (large)
    if (auto* box = w.findChild<QCheckBox*>(QStringLiteral("LargeFontsCheck"))) box->click();
  auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  auto* inner = w.findChild<QTabWidget*>(QStringLiteral("PageControl2"));
  struct Shot {
    int page, inner;
    const char* file;
  };
  const Shot shots[] = {{0, -1, "browser.png"},
                        {1, 0, "make-zip.png"},
                        {1, 1, "make-report.png"},
                        {2, -1, "archive.png"}};
  int failed = 0;
  for (const Shot& s : shots) {
    pages->setCurrentIndex(s.page);
    if (s.inner >= 0) inner->setCurrentIndex(s.inner);
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
    const QString file = out + QLatin1Char('/') + QLatin1String(s.file);
    if (!w.grab().save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      ++failed;
    } else {
      std::printf("%s (%dx%d)\n", qPrintable(file), w.width(), w.height());
    }
  }
  w.CloseWithoutQuestion();
  return failed ? 1 : 0;
}
