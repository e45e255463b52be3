// Writes a picture of every tab of the main window and of every dialog into a folder, for
// looking at the layout on a real display server (xvfb-run) or offscreen, and lists every text
// that does not show in full (a caption the toolkit shortens with "…", or clips):
//
//   xvfb-run -a build/debug/tests/ui/window_shots OUTDIR [--large-fonts] [--point-size N]
//                                                [--check]
//   window_shots OUTDIR --first-start   the first start of a new user on a machine without a
//                                       disc writer: first-start.png of the whole screen; exit
//                                       status 1 when a box is up or the window is not
//   window_shots OUTDIR --fit           exit status 1 when the window (with its frame) does not
//                                       lie inside the screen's free area
//
// The texts are drawn in DejaVu Sans (Debian's fonts-dejavu-core) at 9 pt, or N pt, whatever
// fonts the desktop is set to, so the pictures and the list are the same on every machine.
// --check: the exit status is 1 when any text does not show in full.
//
// The window runs with private settings folders under OUTDIR, so the user's own settings are
// neither read nor changed.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/urlopener.h"
#include "fitcheck.h"
#include "platform/programdir.h"
#include "ui/desktopopener.h"
#include "ui/mainform.h"

namespace {

// No program to show web pages: the first start's help page is only named.
class TNoBrowser : public IUrlOpener {
 public:
  bool OpenUrl(const QString&) override { return false; }
};

// Private settings folders under out, set before Qt reads any of them. firstRun: no settings
// file yet, as on a new user's first start.
void UsePrivateFolders(const QString& out, bool firstRun) {
  // A first start each time: nothing of an earlier run's settings is left.
  if (firstRun) QDir(out + QStringLiteral("/xdg")).removeRecursively();
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
  if (firstRun) return;
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

// The first start as a new user has it: no settings yet, no disc writer, no browser. After the
// window's first paint, nothing but the window may be up; the status bar says what the start
// could not do.
int FirstStart(const QString& out) {
  TNoBrowser noBrowser;
  SetUrlOpener(&noBrowser);
  int rc = 0;
  TMainform w;
  w.FormCreate();
  w.show();
  // Looked at from a timer once the first paint's work has run (or 10 s passed): a box would
  // hold the start in its own loop.
  QTimer poll;
  int waited = 0;
  poll.setInterval(100);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    waited += 100;
    if (w.context().FirstPaint && waited < 10000) return;
    poll.stop();
    QStringList up;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top != &w && top->isVisible() && top->isWindow() && !qobject_cast<QMenu*>(top))
        up << top->metaObject()->className() + QStringLiteral(" ") + top->windowTitle();
    if (!w.isVisible()) up << QStringLiteral("the main window is not shown");
    if (w.context().FirstPaint) up << QStringLiteral("the first paint did not come");
    const QPixmap shot = w.screen() ? w.screen()->grabWindow(0) : w.grab();
    const QString path = out + QStringLiteral("/first-start.png");
    if (!shot.save(path)) up << QStringLiteral("cannot write ") + path;
    auto* note = w.findChild<QLabel*>(QStringLiteral("StatusActiveFile"));
    std::printf("%s\nstatus bar: %s\n", qPrintable(path),
                note ? qPrintable(note->text()) : "(none)");
    // What the start could not do is said in the status bar (the help at least: no browser).
    if (!note || !note->text().contains(QStringLiteral("help")))
      up << QStringLiteral("the status bar does not say where the help is");
    for (const QString& u : up) std::fprintf(stderr, "up at the first start: %s\n", qPrintable(u));
    rc = up.isEmpty() ? 0 : 1;
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->done(0);
    QCoreApplication::exit(0);
  });
  poll.start();
  QApplication::exec();
  w.CloseWithoutQuestion();
  SetUrlOpener(nullptr);
  return rc;
}

// The window as it starts on this screen lies inside its free area, frame and all.
int Fit() {
  TMainform w;
  w.FormCreate();
  w.show();
  Settle();
  const QRect free = w.screen()->availableGeometry();
  const QRect frame = w.frameGeometry();
  std::printf("screen %dx%d, free %d,%d %dx%d, window %d,%d %dx%d, minimum %dx%d\n",
              w.screen()->geometry().width(), w.screen()->geometry().height(), free.x(), free.y(),
              free.width(), free.height(), frame.x(), frame.y(), frame.width(), frame.height(),
              w.minimumSizeHint().width(), w.minimumSizeHint().height());
  const bool inside = free.contains(frame) && w.minimumSizeHint().width() <= free.width() &&
                      w.minimumSizeHint().height() <= free.height();
  w.CloseWithoutQuestion();
  return inside ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: window_shots OUTDIR [--large-fonts] [--point-size N] [--check]\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(out);
  bool firstStart = false;
  bool fit = false;
  for (int i = 2; i < argc; ++i) {
    firstStart |= std::strcmp(argv[i], "--first-start") == 0;
    fit |= std::strcmp(argv[i], "--fit") == 0;
  }
  UsePrivateFolders(out, firstStart);
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
  if (firstStart) return FirstStart(out);
  if (fit) return Fit();

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
