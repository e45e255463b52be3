// A stand-in for the program in single-instance tests: it runs the instance guard exactly as the
// program does. As the first instance it listens, writes "<pid>" to <dir>/ready.<pid> and
// appends every received argument as one line to <dir>/received (the path's bytes, then a TAB
// and the ACTION when there is one), until killed (or 60 s pass); a path containing "refuse" is
// refused with the answer "refused: <path>". As a later start (arguments: dir, path, action) it
// exits 0 after a hand-over, 3 when told to start normally, 1 on failure or refusal (the reason
// on standard error).
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/instancemanager.h"
#include "app/pathbytes.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const QString dir = QString::fromLocal8Bit(argv[1]);
  TInstanceManager instance;
  const auto role = instance.Guard(HandOverArgument(argc > 2 ? QByteArray(argv[2]) : QByteArray()),
                                   argc > 3 ? QByteArray(argv[3]) : QByteArray());
  if (role == TInstanceManager::Role::HandedOver) return 0;
  if (role == TInstanceManager::Role::Ordinary) return 3;
  if (role == TInstanceManager::Role::Failed || role == TInstanceManager::Role::Refused) {
    std::fprintf(stderr, "%s\n", qPrintable(instance.error()));
    return 1;
  }
  QCoreApplication app(argc, argv);
  if (!instance.Listen()) return 1;
  instance.SetReceiver([dir](const THandOver& h) -> THandOverAnswer {
    QFile f(dir + QStringLiteral("/received"));
    if (f.open(QIODevice::Append)) {
      QByteArray line = QByteArray::fromStdString(PathBytes(h.path));
      if (!h.action.isEmpty()) line += '\t' + h.action.toUtf8();
      f.write(line + "\n");
    }
    if (h.path.contains(QStringLiteral("refuse")))
      return {false, QStringLiteral("refused: ") + h.path};
    return {};
  });
  QFile ready(dir + QStringLiteral("/ready.") + QString::number(::getpid()));
  if (ready.open(QIODevice::WriteOnly)) ready.write(QByteArray::number(::getpid()));
  ready.close();
  QTimer::singleShot(60000, &app, &QCoreApplication::quit);
  return app.exec();
}
