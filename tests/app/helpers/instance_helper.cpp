// A stand-in for the program in single-instance tests: it runs the instance guard exactly as the
// program does. As the first instance it listens, writes "<pid>" to <dir>/ready.<pid> and
// appends every received argument as one line to <dir>/received, until killed (or 60 s pass).
// As a later start it exits 0 after a hand-over, 3 when told to start normally, 1 on failure.
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>

#include "app/instancemanager.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const QString dir = QString::fromLocal8Bit(argv[1]);
  TInstanceManager instance;
  const auto role = instance.Guard(HandOverArgument(argc > 2 ? QByteArray(argv[2]) : QByteArray()));
  if (role == TInstanceManager::Role::HandedOver) return 0;
  if (role == TInstanceManager::Role::Ordinary) return 3;
  if (role == TInstanceManager::Role::Failed) {
    std::fprintf(stderr, "%s\n", qPrintable(instance.error()));
    return 1;
  }
  QCoreApplication app(argc, argv);
  if (!instance.Listen()) return 1;
  instance.SetReceiver([dir](const QString& path) {
    QFile f(dir + QStringLiteral("/received"));
    if (f.open(QIODevice::Append)) f.write(QFile::encodeName(path) + "\n");
  });
  QFile ready(dir + QStringLiteral("/ready.") + QString::number(::getpid()));
  if (ready.open(QIODevice::WriteOnly)) ready.write(QByteArray::number(::getpid()));
  ready.close();
  QTimer::singleShot(60000, &app, &QCoreApplication::quit);
  return app.exec();
}
