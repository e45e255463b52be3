#include "app/termsignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace {

int g_fds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe work here: one byte into the pipe.
void OnSignal(int sig) {
  const int saved = errno;
  const char c = static_cast<char>(sig);
  [[maybe_unused]] ssize_t n = ::write(g_fds[1], &c, 1);
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) return;
  notifier_ = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TTerminationSignals::OnReadable);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : kSignals) ::sigaction(s, &sa, nullptr);
}

TTerminationSignals::~TTerminationSignals() {
  for (int s : kSignals) std::signal(s, SIG_DFL);
  delete notifier_;
  for (int& fd : g_fds) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void TTerminationSignals::OnReadable() {
  char c;
  while (::read(g_fds[0], &c, 1) == 1) emit terminationRequested(static_cast<unsigned char>(c));
}
