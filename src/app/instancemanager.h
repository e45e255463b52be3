// Single instance and hand-over.
//
// The first instance holds an exclusive flock on "instance.lock" in a private runtime folder
// ($XDG_RUNTIME_DIR/arcavo/, or /tmp/arcavo-<uid>/ when that variable names no folder of this
// user; mode 0700, owner checked) and listens with a QLocalServer on the socket "instance.sock" in
// the same folder.
//
// A later start finds the lock taken, connects to the socket (retrying while the first instance
// is still starting, up to 5000 ms), sends its first argument as one frame (4-byte big-endian
// length, then the bytes) and reads a one-byte answer: 1 means the first instance took the
// argument and this process ends; 0 lets it start as an ordinary instance; no answer is an error.
//
// The first instance answers as soon as the frame has arrived, keeps the argument and queues the
// receiver (IMgrTrigger), so a sender never waits for whatever the first instance is doing.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

// The argument a later start hands over: a relative name is made absolute against this process's
// working folder, since the running instance resolves names against its own. Empty stays empty.
QByteArray HandOverArgument(const QByteArray& arg);

class TInstanceManager : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    First,       // this process is the first instance (lock held, server listening)
    HandedOver,  // the argument went to the running instance; this process must end (status 0)
    Ordinary,    // the running instance answered 0: start as an ordinary instance
    Failed,      // the running instance did not answer; error() says why
  };

  // Largest argument a frame may carry; longer frames are dropped unanswered.
  static constexpr quint32 kMaxFrame = 64 * 1024;
  static constexpr int kConnectTimeoutMs = 5000;

  explicit TInstanceManager(QObject* parent = nullptr);
  ~TInstanceManager() override;

  // The private folder holding the lock and the socket, created when missing. Throws
  // std::system_error when it cannot be made safe (wrong owner, or others may enter it).
  static QString RuntimeFolder();

  // The guard: takes the lock and becomes the first instance, or hands firstArg over to the
  // running one. Needs no QCoreApplication, so a later start ends before any window system is
  // touched.
  Role Guard(const QByteArray& firstArg);
  // The first instance starts taking hand-overs (needs the QCoreApplication). Later starts wait
  // for this while they retry their connection.
  bool Listen();
  QString error() const { return error_; }

  // Called (queued, on this object's thread) with each argument received from a later start.
  // Arguments that arrive before a receiver is set are kept and delivered when it is set.
  void SetReceiver(std::function<void(const QString&)> receiver);

  // Stops listening and releases the lock (the close sequence; also done by the destructor).
  void Release();
  bool holdsLock() const { return lockFd_ >= 0; }
  QString socketPath() const { return socketPath_; }

  // The client half on its own: sends one frame to the server at socketPath and returns the
  // answer byte, or -1 when no answer came within timeoutMs.
  static int SendFrame(const QString& socketPath, const QByteArray& payload, int timeoutMs);

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);
  void Deliver(const QString& path);

  int lockFd_ = -1;
  QString socketPath_;
  QLocalServer* server_ = nullptr;
  QString error_;
  QHash<QLocalSocket*, QByteArray> buffers_;
  std::function<void(const QString&)> receiver_;
  QStringList waiting_;
};
