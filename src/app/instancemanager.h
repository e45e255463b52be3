// Single instance and hand-over.
//
// The first instance holds an exclusive flock on "instance.lock" in a private runtime folder and
// listens with a QLocalServer on the socket "instance.sock" in the same folder. The folder is
// $XDG_RUNTIME_DIR/arcavo/ when that variable names a folder of this user; without the variable
// (cron, some service managers) it is the session's runtime folder /run/user/<uid>/arcavo/ when
// that exists and is this user's, so a start from a scheduler finds the instance of the desktop
// session; only where neither exists, /tmp/arcavo-<uid>/. Mode 0700, owner checked.
//
// A later start finds the lock taken, connects to the socket (retrying while the first instance
// is still starting, up to 5000 ms) and sends one frame: a 4-byte big-endian length, then its
// first argument as raw bytes and, when it has an ACTION, a NUL and the ACTION's bytes. It reads
// the answer: 1 means the first instance took the job (this process ends with status 0); 2,
// followed by a 4-byte length and a UTF-8 text, means it did not start it and says why (this
// process ends with status 1); 0 lets it start as an ordinary instance; no answer is an error.
//
// The first instance answers once its receiver has decided (IMgrTrigger: started, queued, or
// refused). A frame whose sender has gone by the time it is read (the first instance was stopped
// for longer than the sender waits) is dropped without being acted on: that sender has already
// reported the failure.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

// The argument a later start hands over: a relative name is made absolute against this process's
// working folder, since the running instance resolves names against its own. Empty stays empty.
QByteArray HandOverArgument(const QByteArray& arg);

// What a later start hands over: its first argument (the exact bytes of the name, kept as
// PathText) and its ACTION ("" when it had none).
struct THandOver {
  QString path;
  QString action;
};

// The running instance's answer to a hand-over.
struct THandOverAnswer {
  bool accepted = true;
  QString reason;  // why it was not started (accepted == false)
};

// The frame's payload for a path and an ACTION, and back.
QByteArray HandOverPayload(const QByteArray& path, const QByteArray& action);
THandOver ParseHandOverPayload(const QByteArray& payload);

class TInstanceManager : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    First,       // this process is the first instance (lock held, server listening)
    HandedOver,  // the running instance took the job; this process must end (status 0)
    Refused,     // the running instance did not start it; error() says why (status 1)
    Ordinary,    // the running instance answered 0: start as an ordinary instance
    Failed,      // the running instance did not answer; error() says why
  };
  // Answer codes of the protocol.
  enum : int { kAnswerOrdinary = 0, kAnswerAccepted = 1, kAnswerRefused = 2 };

  // Largest argument a frame may carry; longer frames are dropped unanswered.
  static constexpr quint32 kMaxFrame = 64 * 1024;
  static constexpr int kConnectTimeoutMs = 5000;

  explicit TInstanceManager(QObject* parent = nullptr);
  ~TInstanceManager() override;

  // The private folder holding the lock and the socket, created when missing. Throws
  // std::system_error when it cannot be made safe (wrong owner, or others may enter it).
  static QString RuntimeFolder();
  // The folder holding the users' runtime folders ("/run/user"); tests point it elsewhere.
  static void SetUserRuntimeRootForTest(const QString& root);

  // The guard: takes the lock and becomes the first instance, or hands firstArg (and action)
  // over to the running one. Needs no QCoreApplication, so a later start ends before any window
  // system is touched.
  Role Guard(const QByteArray& firstArg, const QByteArray& action = QByteArray());
  // The first instance starts taking hand-overs (needs the QCoreApplication). Later starts wait
  // for this while they retry their connection.
  bool Listen();
  QString error() const { return error_; }

  // Decides on each hand-over received from a later start (on this object's thread, from the
  // event loop); its answer goes back to the sender. Frames that arrive before a receiver is set
  // wait for it (their senders wait for the answer).
  using Receiver = std::function<THandOverAnswer(const THandOver&)>;
  void SetReceiver(Receiver receiver);

  // Stops listening and releases the lock (the close sequence; also done by the destructor).
  void Release();
  bool holdsLock() const { return lockFd_ >= 0; }
  QString socketPath() const { return socketPath_; }

  // The client half on its own: sends one frame to the server at socketPath and returns the
  // answer code, or -1 when no answer came within timeoutMs; reason receives a refusal's text.
  static int SendFrame(const QString& socketPath, const QByteArray& payload, int timeoutMs,
                       QString* reason = nullptr);

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);
  // Asks the receiver about a complete frame and answers its sender.
  void Decide(QLocalSocket* socket, const QByteArray& payload);

  int lockFd_ = -1;
  QString socketPath_;
  QLocalServer* server_ = nullptr;
  QString error_;
  QHash<QLocalSocket*, QByteArray> buffers_;
  Receiver receiver_;
  // Complete frames waiting for the receiver, with their senders.
  QList<QPair<QPointer<QLocalSocket>, QByteArray>> waiting_;
};
