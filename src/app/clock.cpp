#include "app/clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

namespace {
Clock* g_clock = nullptr;
}

QDateTime SystemClock::Now() const {
  return QDateTime::currentDateTime();
}

int64_t SystemClock::TickMs() const {
  static QElapsedTimer timer = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return timer.elapsed();
}

void SystemClock::Wait(int ms) {
  if (ms <= 0) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
    return;
  }
  if (!QCoreApplication::instance()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

Clock& CurrentClock() {
  static SystemClock system;
  return g_clock ? *g_clock : system;
}

void SetClock(Clock* clock) {
  g_clock = clock;
}

void Delay(int ms) {
  CurrentClock().Wait(ms);
}
