#include "app/instancemanager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Waits until fd is ready for events or the deadline passes.
bool WaitFd(int fd, short events, const QDeadlineTimer& deadline) {
  for (;;) {
    qint64 left = deadline.remainingTime();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool WriteAll(int fd, const char* data, size_t size, const QDeadlineTimer& deadline) {
  while (size > 0) {
    if (!WaitFd(fd, POLLOUT, deadline)) return false;
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Connects to the server socket; -1 with errno when nobody listens (yet).
int ConnectTo(const QString& socketPath) {
  QByteArray p = QFile::encodeName(socketPath);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (static_cast<size_t>(p.size()) >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (errno == EINPROGRESS || errno == EAGAIN) {
    QDeadlineTimer d(1000);
    int err = 0;
    socklen_t len = sizeof err;
    if (WaitFd(fd, POLLOUT, d) && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
        err == 0)
      return fd;
    if (err) errno = err;
  }
  int saved = errno;
  ::close(fd);
  errno = saved;
  return -1;
}

}  // namespace

QByteArray HandOverArgument(const QByteArray& arg) {
  if (arg.isEmpty() || arg.startsWith('/')) return arg;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return arg;
  QByteArray base(cwd);
  if (!base.endsWith('/')) base += '/';
  QByteArray rel = arg;
  while (rel.startsWith("./")) rel.remove(0, 2);
  return base + rel;
}

TInstanceManager::TInstanceManager(QObject* parent) : QObject(parent) {}

TInstanceManager::~TInstanceManager() {
  Release();
}

QString TInstanceManager::RuntimeFolder() {
  std::string dir = "/tmp/arcavo-" + std::to_string(::getuid());
  // The runtime folder counts only when it is a folder of this user; otherwise the private
  // folder under /tmp serves.
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat xs;
  if (xdg && *xdg == '/' && ::stat(xdg, &xs) == 0 && S_ISDIR(xs.st_mode) && xs.st_uid == ::getuid())
    dir = std::string(xdg) + "/arcavo";
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("cannot create " + dir);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) ThrowErrno("cannot inspect " + dir);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    throw std::system_error(EPERM, std::generic_category(), dir + " is not a folder of this user");
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
    ThrowErrno("cannot protect " + dir);
  return QFile::decodeName(QByteArray::fromStdString(dir));
}

namespace {

// Sends the frame on a connected socket, reads the answer and closes the socket.
int Exchange(int fd, const QByteArray& payload, const QDeadlineTimer& deadline) {
  const quint32 n = static_cast<quint32>(payload.size());
  const char head[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                        static_cast<char>(n >> 8), static_cast<char>(n)};
  int answer = -1;
  if (WriteAll(fd, head, 4, deadline) &&
      WriteAll(fd, payload.constData(), payload.size(), deadline)) {
    while (WaitFd(fd, POLLIN, deadline)) {
      char c;
      ssize_t r = ::recv(fd, &c, 1, 0);
      if (r == 1) {
        answer = static_cast<unsigned char>(c);
        break;
      }
      if (r == 0 || (errno != EINTR && errno != EAGAIN)) break;
    }
  }
  ::close(fd);
  return answer;
}

}  // namespace

int TInstanceManager::SendFrame(const QString& socketPath, const QByteArray& payload,
                                int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  int fd = ConnectTo(socketPath);
  if (fd < 0) return -1;
  return Exchange(fd, payload, deadline);
}

TInstanceManager::Role TInstanceManager::Guard(const QByteArray& firstArg) {
  error_.clear();
  QString folder;
  try {
    folder = RuntimeFolder();
  } catch (const std::system_error& e) {
    error_ = QString::fromLocal8Bit(e.what());
    return Role::Failed;
  }
  const QByteArray lockPath = QFile::encodeName(folder + QStringLiteral("/instance.lock"));
  socketPath_ = folder + QStringLiteral("/instance.sock");
  int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ = QStringLiteral("cannot open %1: %2")
                 .arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno)));
    return Role::Failed;
  }

  // Another start may be between taking the lock and listening: keep trying to connect (or to
  // take over the lock, should the holder die) until the deadline.
  QDeadlineTimer deadline(kConnectTimeoutMs);
  int answer = -1;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lockFd_ = fd;
      return Role::First;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      error_ = QStringLiteral("cannot lock: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
      ::close(fd);
      return Role::Failed;
    }
    int conn = ConnectTo(socketPath_);
    if (conn >= 0) {
      ::close(fd);
      // The answer may take as long as the rest of the start-up wait, at least a second.
      QDeadlineTimer answerDeadline(std::max<qint64>(deadline.remainingTime(), 1000));
      answer = Exchange(conn, firstArg, answerDeadline);
      break;
    }
    if (deadline.hasExpired()) {
      ::close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (answer > 0) return Role::HandedOver;
  if (answer == 0) return Role::Ordinary;
  error_ = QStringLiteral("the running instance did not answer");
  return Role::Failed;
}

bool TInstanceManager::Listen() {
  if (lockFd_ < 0) return false;
  if (server_) return true;
  // A socket left behind by a killed instance is stale now that we hold the lock.
  QLocalServer::removeServer(socketPath_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socketPath_)) {
    error_ = server_->errorString();
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, &TInstanceManager::OnNewConnection);
  return true;
}

void TInstanceManager::SetReceiver(std::function<void(const QString&)> receiver) {
  receiver_ = std::move(receiver);
  if (!receiver_) return;
  const QStringList waiting = std::exchange(waiting_, {});
  for (const QString& p : waiting) Deliver(p);
}

void TInstanceManager::Release() {
  for (auto it = buffers_.begin(); it != buffers_.end(); ++it) it.key()->disconnect(this);
  buffers_.clear();
  if (server_) {
    server_->close();
    delete server_;  // also deletes the connections it handed out
    server_ = nullptr;
  }
  if (lockFd_ >= 0) {
    ::close(lockFd_);  // closing the descriptor drops the flock
    lockFd_ = -1;
  }
}

void TInstanceManager::OnNewConnection() {
  while (QLocalSocket* s = server_ ? server_->nextPendingConnection() : nullptr) {
    buffers_.insert(s, {});
    connect(s, &QLocalSocket::readyRead, this, [this, s] { OnReadyRead(s); });
    connect(s, &QLocalSocket::disconnected, this, [this, s] {
      buffers_.remove(s);
      s->deleteLater();
    });
    // A sender that never completes its frame is dropped.
    QTimer::singleShot(kConnectTimeoutMs, s, [s] { s->abort(); });
    if (s->bytesAvailable() > 0) OnReadyRead(s);
  }
}

void TInstanceManager::OnReadyRead(QLocalSocket* s) {
  auto it = buffers_.find(s);
  if (it == buffers_.end()) return;
  QByteArray& buf = it.value();
  buf += s->readAll();
  if (buf.size() < 4) return;
  const auto* b = reinterpret_cast<const unsigned char*>(buf.constData());
  const quint32 len = (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
  if (len > kMaxFrame) {
    s->abort();  // malformed: ignored, no answer
    return;
  }
  if (static_cast<quint32>(buf.size()) < 4 + len) return;
  QByteArray payload = buf.mid(4, len);
  const bool malformed = static_cast<quint32>(buf.size()) > 4 + len || payload.contains('\0');
  if (malformed) {
    s->abort();
    return;
  }
  buf.clear();
  s->write("\x01", 1);
  s->flush();
  s->disconnectFromServer();
  Deliver(QFile::decodeName(payload));
}

void TInstanceManager::Deliver(const QString& path) {
  if (!receiver_) {
    waiting_.append(path);
    return;
  }
  QMetaObject::invokeMethod(
      this,
      [this, path] {
        if (receiver_) receiver_(path);
      },
      Qt::QueuedConnection);
}
