// The scripted host: answers message boxes from a queue, records a transcript of everything
// shown, and fails the test on a box nobody expected or an answer left unused.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <deque>
#include <functional>
#include <optional>

#include "app/clock.h"
#include "app/mb.h"

class ScriptedHost : public IMbHost {
 public:
  struct Record {
    QString kind;  // "message", "choice", "notice", "notice-close"
    QString text;
    QString caption;
    QStringList buttons;
    int defaultButton = 0;
    int icon = 0;
    int result = 0;
  };

  // Installs itself as the message-box host; the previous host comes back on destruction.
  ScriptedHost();
  ~ScriptedHost() override;

  // The next box is answered with result. With expectText, the box's text must equal it.
  ScriptedHost& Answer(int result, std::optional<QString> expectText = std::nullopt);
  // The next box is answered by pressing the button with this caption (it must exist).
  ScriptedHost& Press(const QString& caption, std::optional<QString> expectText = std::nullopt);
  // Every later box is answered with its default button (for long unattended flows).
  void AnswerDefaults(bool on) { answerDefaults_ = on; }
  // Every later box is answered with Cancel, else No, else its default button (a user who
  // backs out of everything).
  void AnswerCancel(bool on) { answerCancel_ = on; }

  const QVector<Record>& transcript() const { return transcript_; }
  // The texts of the modal boxes shown, in order.
  QStringList Texts() const;
  int PendingAnswers() const { return static_cast<int>(answers_.size()); }
  void SetActiveCaption(const QString& caption) { activeCaption_ = caption; }

  bool noticeOpen() const { return noticeOpen_; }
  int noticeSteps() const { return noticeSteps_; }
  const MbNoticeSpec& lastNotice() const { return lastNotice_; }

  // Called with every modal box before it is answered (to act while a box is up).
  std::function<void(const MbBox&)> onBox;

  int ShowBox(const MbBox& box) override;
  QString ActiveCaption() override { return activeCaption_; }
  void OpenNotice(const MbNoticeSpec& spec) override;
  void StepNotice(int n) override;
  void CloseNotice() override;

 private:
  struct Pending {
    std::optional<int> result;
    std::optional<QString> press;
    std::optional<QString> expectText;
  };
  std::deque<Pending> answers_;
  QVector<Record> transcript_;
  IMbHost* previous_ = nullptr;
  QString activeCaption_;
  bool answerDefaults_ = false;
  bool answerCancel_ = false;
  bool noticeOpen_ = false;
  int noticeSteps_ = 0;
  MbNoticeSpec lastNotice_;
};

// A clock for tests: Wait advances the time at once instead of waiting.
class FakeClock : public Clock {
 public:
  explicit FakeClock(QDateTime start = QDateTime(QDate(2006, 5, 4), QTime(12, 0)));
  ~FakeClock() override;
  QDateTime Now() const override { return now_; }
  int64_t TickMs() const override { return tick_; }
  void Wait(int ms) override;
  void Advance(int64_t ms);
  int64_t waited() const { return waited_; }

 private:
  QDateTime now_;
  int64_t tick_ = 0;
  int64_t waited_ = 0;
};
