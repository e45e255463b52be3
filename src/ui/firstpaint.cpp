#include "ui/firstpaint.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace {

double ClockMs(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// Milliseconds since the process was created (its start time in /proc counts from boot), or -1.
double MsSinceProcessStart() {
  std::ifstream in("/proc/self/stat");
  std::string stat;
  std::getline(in, stat);
  // The fields after the command name (which may hold blanks) start at the state, field 3;
  // the start time is field 22.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long ticks = 0;
  if (!(fields >> ticks)) return -1;
  return ClockMs(CLOCK_BOOTTIME) - ticks * 1000.0 / ::sysconf(_SC_CLK_TCK);
}

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

class TFirstPaintWatch : public QObject {
 public:
  TFirstPaintWatch(QWidget* window, bool quit) : QObject(window), window_(window), quit_(quit) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == window_) {
      std::fprintf(stderr, "first-paint %.1f monotonic-ms %.1f rss-kb %ld\n", MsSinceProcessStart(),
                   ClockMs(CLOCK_MONOTONIC), ResidentKb());
      std::fflush(stderr);
      QCoreApplication::instance()->removeEventFilter(this);
      if (quit_) QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
      deleteLater();
    }
    return false;
  }

 private:
  QWidget* window_;
  bool quit_;
};

}  // namespace

void ReportFirstPaint(QWidget* window) {
  const char* how = std::getenv("ARCAVO_REPORT_FIRST_PAINT");
  if (!how || !*how) return;
  QCoreApplication::instance()->installEventFilter(
      new TFirstPaintWatch(window, std::strcmp(how, "quit") == 0));
}
