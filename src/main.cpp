// Arcavo: the single-instance guard, then the window.
#include <QFileInfo>
#include <QSessionManager>
#include <QUrl>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "app/instancemanager.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "app/screensaver.h"
#include "app/termsignals.h"
#include "automation/notifier.h"
#include "discemu/emulateddrive.h"
#include "platform/programdir.h"
#include "ui/application.h"
#include "ui/desktopopener.h"
#include "ui/firstpaint.h"
#include "ui/mainform.h"
#include "ui/mbdialog.h"
#include "ui/windowlife.h"

int main(int argc, char** argv) {
  // Answered here, before the single-instance guard would hand the word to a running window.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("arcavo %s\n", ARCAVO_VERSION);
    return kExitOk;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "Usage: arcavo [FILE [ACTION]]\n"
        "       arcavo --version | --help\n"
        "Opens the backup window.\n"
        "  NAME.JOB, NAME.CAT  a saved job: opened and run at once\n"
        "  NAME.ZIP            an archive: opened in the archive view for restore\n"
        "  ACTION              after the job's unattended run: close, hibernate or shutdown\n"
        "A start while Arcavo runs hands FILE and ACTION to the running window.\n"
        "Exit status of an unattended run: 0 all stored, 3 files left out, 1 no archive,\n"
        "2 missing file or bad ACTION. See arcavo(1).\n");
    return kExitOk;
  }
  // ARCAVO_EMULATED_DRIVES, when set, puts emulated disc writers in place of the real ones.
  InstallEmulatedDrives();
  // A later start hands its first argument (and its ACTION) to the running instance and ends
  // before any window system is touched; its status says whether the job was taken.
  TInstanceManager instance;
  // "--stealth-now" asks the running instance for the hotkey backup; alone it does nothing.
  const bool stealthNow = argc == 2 && std::strcmp(argv[1], TAppLifecycle::kStealthNowArg) == 0;
  const QByteArray first = stealthNow ? QByteArray(argv[1])
                           : argc > 1 ? HandOverArgument(QByteArray(argv[1]))
                                      : QByteArray();
  const TInstanceManager::Role role =
      instance.Guard(first, argc > 2 ? QByteArray(argv[2]) : QByteArray());
  if (stealthNow &&
      (role == TInstanceManager::Role::First || role == TInstanceManager::Role::Ordinary)) {
    std::fprintf(stderr, "arcavo: no running instance for %s\n", TAppLifecycle::kStealthNowArg);
    return kExitRunFailed;
  }
  switch (role) {
    case TInstanceManager::Role::HandedOver:
      return kExitOk;
    case TInstanceManager::Role::Refused:
    case TInstanceManager::Role::Failed:
      std::fprintf(stderr, "arcavo: %s\n", PathBytes(instance.error()).c_str());
      return kExitRunFailed;
    case TInstanceManager::Role::First:
    case TInstanceManager::Role::Ordinary:
      break;
  }

  // Without its settings folder the program cannot keep anything: it says why and ends.
  try {
    ProgramDir();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "arcavo: %s\n", e.what());
    return kExitRunFailed;
  }

  TApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Arcavo"));
  QApplication::setQuitOnLastWindowClosed(true);
  if (instance.holdsLock() && !instance.Listen())
    std::fprintf(stderr, "arcavo: hand-over not available: %s\n", qPrintable(instance.error()));

  // The arguments as their bytes: a file name that is not UTF-8 still names its file.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << PathText(argv[i]);

  TMainform form(args, &instance);
  QtMbHost boxes(&form);
  SetMbHost(&boxes);
  ScreenSaverInhibitor screenSaver;
  form.lifecycle().SetScreenSaverInhibitor(&screenSaver);
  // Sleep is held off while an archive operation runs (logind and UPower on the system bus).
  form.life()->StartPowerEvents(QDBusConnection::systemBus());
  MainContext& ctx = form.context();
  // Runs nobody watches tell the desktop when they go wrong (notifications on the session bus).
  TRunNotices notices(ctx, QDBusConnection::sessionBus());
  notices.notifier().OnOpen = [](const QString& file) {
    CurrentUrlOpener().OpenUrl(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded));
  };
  ctx.OnTerminate = [](int code) { QCoreApplication::exit(code); };
  app.onException = [&form](const QString& text) { form.lifecycle().AppException(text); };
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                   [&form](QSessionManager& m) { form.CommitDataRequest(m); });
  // A termination signal closes the window in order (cancelling a running operation first).
  TTerminationSignals termSignals;
  QObject::connect(&termSignals, &TTerminationSignals::terminationRequested, &form,
                   [&form, &ctx](int sig) {
                     form.CloseWithoutQuestion();
                     RequestTerminate(ctx, 128 + sig);
                   });

  int rc = kExitOk;
  ReportFirstPaint(&form);
  form.FormCreate();
  // Termination asked for before the event loop runs (a bad argument, an unattended "close"
  // run) ends the process here: exit() before exec() would be ignored.
  if (!ctx.TerminateRequested) {
    form.show();
    if (!ctx.TerminateRequested) rc = app.exec();
  }
  if (ctx.TerminateRequested) rc = ctx.ExitCode;
  // A termination that did not come through the window's close still releases what the close
  // sequence releases (the guard, the folder verb, the disc layer).
  if (!form.lifecycle().closeSequenceDone()) form.lifecycle().RunCloseSequence();
  app.onException = nullptr;
  SetMbUnattended({});
  SetMbHost(nullptr);
  return ctx.FinalExitCode(rc);
}
