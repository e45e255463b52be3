// Termination signals arrive as requests in the event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>

#include "app/termsignals.h"

namespace {

TEST(TerminationSignals, DeliveredFromTheEventLoopAndDefaultsRestoredAfter) {
  QList<int> got;
  {
    TTerminationSignals watcher;
    QObject::connect(&watcher, &TTerminationSignals::terminationRequested,
                     [&](int s) { got << s; });
    std::raise(SIGTERM);
    std::raise(SIGHUP);
    EXPECT_TRUE(got.isEmpty());  // nothing runs inside the handler
    QElapsedTimer t;
    t.start();
    while (got.size() < 2 && t.elapsed() < 2000) QCoreApplication::processEvents();
  }
  EXPECT_EQ(got, (QList<int>{SIGTERM, SIGHUP}));
  struct sigaction sa {};
  ::sigaction(SIGTERM, nullptr, &sa);
  EXPECT_EQ(sa.sa_handler, SIG_DFL);
}

}  // namespace
