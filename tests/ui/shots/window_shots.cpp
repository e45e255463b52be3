// Writes a picture of every tab of the main window and of every dialog into a folder, for
// looking at the layout on a real display server (xvfb-run) or offscreen, and lists every text
// that does not show in full (a caption the toolkit shortens with "…", or clips):
//
//   xvfb-run -a build/debug/tests/ui/window_shots OUTDIR [--large-fonts] [--point-size N]
//                                                [--check]
//
// The texts are drawn in DejaVu Sans (Debian's fonts-dejavu-core) at 9 pt, or N pt, whatever
// fonts the desktop is set to, so the pictures and the list are the same on every machine.
// --check: the exit status is 1 when any text does not show in full.
//
// The window runs with private settings folders under OUTDIR, so the user's own settings are
// neither read nor changed.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fitcheck.h"
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

void Settle() {
  for (int i = 0; i < 10; ++i) QApplication::processEvents();
}

// Saves the picture of w as out/file and lists what does not fit; false when the file could not
// be written.
bool Shot(QWidget& w, const QString& out, const QString& file, QStringList& faults) {
  Settle();
  for (const QString& f : ClippedTexts(&w)) faults << file + QStringLiteral(": ") + f;
  const QString path = out + QLatin1Char('/') + file;
  if (!w.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s (%dx%d)\n", qPrintable(path), w.width(), w.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: window_shots OUTDIR [--large-fonts] [--point-size N] [--check]\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  UsePrivateFolders(out);
  QApplication app(argc, argv);
  QStringList args = app.arguments().mid(2);
  bool large = false;
  bool check = false;
  int points = 9;
  while (!args.isEmpty()) {
    const QString a = args.takeFirst();
    if (a == QLatin1String("--large-fonts"))
      large = true;
    else if (a == QLatin1String("--check"))
      check = true;
    else if (a == QLatin1String("--point-size") && !args.isEmpty())
      points = args.takeFirst().toInt();
  }
  QFont font(QStringLiteral("DejaVu Sans"), points > 0 ? points : 9);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
  if (!QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
    std::fprintf(stderr, "warning: DejaVu Sans is not installed (package fonts-dejavu-core)\n");
  ResetProgramDirForTest();

  TMainform w;
  w.FormCreate();
  w.show();
  if (large)
    if (auto* box = w.findChild<QCheckBox*>(QStringLiteral("LargeFontsCheck"))) box->click();
  auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  auto* inner = w.findChild<QTabWidget*>(QStringLiteral("PageControl2"));
  if (!pages || !inner) {
    std::fprintf(stderr, "the window has no tabs\n");
    return 1;
  }
  QStringList faults;
  int failed = 0;
  // Every tab, and every inner tab of the tab holding them.
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    const bool hasInner = page == pages->indexOf(inner->parentWidget());
    for (int sub = 0; sub < (hasInner ? inner->count() : 1); ++sub) {
      QString file = QStringLiteral("tab-%1").arg(page);
      if (hasInner) {
        inner->setCurrentIndex(sub);
        file += QStringLiteral("-%1").arg(sub);
      }
      if (!Shot(w, out, file + QStringLiteral(".png"), faults)) ++failed;
    }
  }
  for (const TDialogCase& d : DialogCases()) {
    std::unique_ptr<QWidget> dialog(d.make(&w));
    dialog->show();
    if (!Shot(*dialog, out, QStringLiteral("dialog-%1.png").arg(QLatin1String(d.name)), faults))
      ++failed;
  }
  w.CloseWithoutQuestion();
  for (const QString& f : faults) std::fprintf(stderr, "not in full: %s\n", qPrintable(f));
  if (failed) return 1;
  return check && !faults.isEmpty() ? 1 : 0;
}
