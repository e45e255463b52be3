#include "app/instancemanager.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "app/pathbytes.h"

namespace {

// The folder holding the users' runtime folders.
QString g_userRuntimeRoot = QStringLiteral("/run/user");

// Longest refusal text sent back.
constexpr quint32 kMaxReason = 4096;

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
  const QByteArray p = QByteArray::fromStdString(PathBytes(socketPath));
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

QByteArray HandOverPayload(const QByteArray& path, const QByteArray& action) {
  if (action.isEmpty()) return path;
  return path + '\0' + action;
}

THandOver ParseHandOverPayload(const QByteArray& payload) {
  THandOver h;
  const qsizetype nul = payload.indexOf('\0');
  h.path = PathText(payload.left(nul < 0 ? payload.size() : nul).toStdString());
  if (nul >= 0) h.action = PathText(payload.mid(nul + 1).toStdString());
  return h;
}

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

void TInstanceManager::SetUserRuntimeRootForTest(const QString& root) {
  g_userRuntimeRoot = root.isEmpty() ? QStringLiteral("/run/user") : root;
}

QString TInstanceManager::RuntimeFolder() {
  // A runtime folder counts only when it is a folder of this user.
  auto usable = [](const std::string& d) {
    struct stat xs;
    return !d.empty() && d[0] == '/' && ::stat(d.c_str(), &xs) == 0 && S_ISDIR(xs.st_mode) &&
           xs.st_uid == ::getuid();
  };
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  const std::string session = PathBytes(g_userRuntimeRoot) + "/" + std::to_string(::getuid());
  std::string dir = "/tmp/arcavo-" + std::to_string(::getuid());
  if (xdg && usable(xdg))
    dir = std::string(xdg) + "/arcavo";
  else if (usable(session))
    dir = session + "/arcavo";  // what the session's XDG_RUNTIME_DIR names
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("cannot create " + dir);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0) ThrowErrno("cannot inspect " + dir);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    throw std::system_error(EPERM, std::generic_category(), dir + " is not a folder of this user");
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0)
    ThrowErrno("cannot protect " + dir);
  return PathText(dir);
}

namespace {

QByteArray BigEndian32(quint32 n) {
  const char b[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)};
  return QByteArray(b, 4);
}

quint32 FromBigEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
}

// Reads exactly size bytes before the deadline.
bool ReadAll(int fd, char* data, size_t size, const QDeadlineTimer& deadline) {
  while (size > 0) {
    if (!WaitFd(fd, POLLIN, deadline)) return false;
    ssize_t r = ::recv(fd, data, size, 0);
    if (r == 0) return false;
    if (r < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += r;
    size -= static_cast<size_t>(r);
  }
  return true;
}

// Sends the frame on a connected socket, reads the answer (and a refusal's text) and closes the
// socket.
int Exchange(int fd, const QByteArray& payload, const QDeadlineTimer& deadline, QString* reason) {
  const QByteArray head = BigEndian32(static_cast<quint32>(payload.size()));
  int answer = -1;
  char c;
  if (WriteAll(fd, head.constData(), 4, deadline) &&
      WriteAll(fd, payload.constData(), payload.size(), deadline) && ReadAll(fd, &c, 1, deadline)) {
    answer = static_cast<unsigned char>(c);
    if (answer == TInstanceManager::kAnswerRefused) {
      char len[4];
      QByteArray text;
      if (ReadAll(fd, len, 4, deadline)) {
        text.resize(static_cast<qsizetype>(std::min(FromBigEndian32(len), kMaxReason)));
        if (!ReadAll(fd, text.data(), static_cast<size_t>(text.size()), deadline)) text.clear();
      }
      if (reason) *reason = QString::fromUtf8(text);
    }
  }
  ::close(fd);
  return answer;
}

}  // namespace

int TInstanceManager::SendFrame(const QString& socketPath, const QByteArray& payload, int timeoutMs,
                                QString* reason) {
  QDeadlineTimer deadline(timeoutMs);
  int fd = ConnectTo(socketPath);
  if (fd < 0) return -1;
  return Exchange(fd, payload, deadline, reason);
}

TInstanceManager::Role TInstanceManager::Guard(const QByteArray& firstArg,
                                               const QByteArray& action) {
  error_.clear();
  QString folder;
  try {
    folder = RuntimeFolder();
  } catch (const std::system_error& e) {
    error_ = QString::fromLocal8Bit(e.what());
    return Role::Failed;
  }
  const QByteArray lockPath =
      QByteArray::fromStdString(PathBytes(folder + QStringLiteral("/instance.lock")));
  socketPath_ = folder + QStringLiteral("/instance.sock");
  int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error_ =
        QStringLiteral("cannot open %1: %2")
            .arg(PathText(lockPath.toStdString()), QString::fromLocal8Bit(std::strerror(errno)));
    return Role::Failed;
  }

  // Another start may be between taking the lock and listening: keep trying to connect (or to
  // take over the lock, should the holder die) until the deadline.
  QDeadlineTimer deadline(kConnectTimeoutMs);
  int answer = -1;
  QString reason;
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
      answer = Exchange(conn, HandOverPayload(firstArg, action), answerDeadline, &reason);
      break;
    }
    if (deadline.hasExpired()) {
      ::close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (answer == kAnswerAccepted) return Role::HandedOver;
  if (answer == kAnswerRefused) {
    error_ = reason.isEmpty() ? QStringLiteral("the running instance did not start it") : reason;
    return Role::Refused;
  }
  if (answer == kAnswerOrdinary) return Role::Ordinary;
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

void TInstanceManager::SetReceiver(Receiver receiver) {
  receiver_ = std::move(receiver);
  if (!receiver_) return;
  const auto waiting = std::exchange(waiting_, {});
  for (const auto& [socket, payload] : waiting)
    if (socket) Decide(socket, payload);
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
  const quint32 len = FromBigEndian32(buf.constData());
  if (len > kMaxFrame) {
    s->abort();  // malformed: ignored, no answer
    return;
  }
  if (static_cast<quint32>(buf.size()) < 4 + len) return;
  QByteArray payload = buf.mid(4, len);
  // One NUL separates the path from the ACTION; a second one is not part of any frame.
  const bool malformed = static_cast<quint32>(buf.size()) > 4 + len || payload.count('\0') > 1;
  if (malformed) {
    s->abort();
    return;
  }
  buf.clear();
  if (!receiver_) {
    waiting_.append({QPointer<QLocalSocket>(s), payload});
    return;
  }
  Decide(s, payload);
}

namespace {

// True when the sender has closed its end: it gave up waiting (the first instance was stopped
// for longer than the sender's deadline), reported the failure itself, and must not be acted on.
bool SenderGone(QLocalSocket* s) {
  if (s->state() != QLocalSocket::ConnectedState) return true;
  const qintptr fd = s->socketDescriptor();
  if (fd < 0) return true;
  char c;
  const ssize_t r = ::recv(static_cast<int>(fd), &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

void TInstanceManager::Decide(QLocalSocket* s, const QByteArray& payload) {
  if (SenderGone(s)) {
    s->abort();
    return;
  }
  const THandOverAnswer answer = receiver_(ParseHandOverPayload(payload));
  QByteArray reply;
  if (answer.accepted) {
    reply = QByteArray(1, static_cast<char>(kAnswerAccepted));
  } else {
    const QByteArray text = answer.reason.toUtf8().left(kMaxReason);
    reply = QByteArray(1, static_cast<char>(kAnswerRefused)) +
            BigEndian32(static_cast<quint32>(text.size())) + text;
  }
  s->write(reply);
  s->flush();
  s->disconnectFromServer();
}
