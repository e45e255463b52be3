#include "qt_scriptedhost.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

ScriptedHost::ScriptedHost() : previous_(MbHost()) {
  SetMbTerminating(false);
  SetMbHost(this);
}

ScriptedHost::~ScriptedHost() {
  SetMbHost(previous_);
  EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answer(s) were never used";
}

ScriptedHost& ScriptedHost::Answer(int result, std::optional<QString> expectText) {
  answers_.push_back(Pending{result, std::nullopt, std::move(expectText)});
  return *this;
}

ScriptedHost& ScriptedHost::Press(const QString& caption, std::optional<QString> expectText) {
  answers_.push_back(Pending{std::nullopt, caption, std::move(expectText)});
  return *this;
}

QStringList ScriptedHost::Texts() const {
  QStringList r;
  for (const auto& rec : transcript_)
    if (rec.kind == QLatin1String("message") || rec.kind == QLatin1String("choice")) r << rec.text;
  return r;
}

int ScriptedHost::ShowBox(const MbBox& box) {
  if (onBox) onBox(box);
  Record rec;
  rec.kind = box.kind == MbBox::Message ? QStringLiteral("message") : QStringLiteral("choice");
  rec.text = box.text;
  rec.caption = box.caption;
  for (const auto& b : box.buttons) rec.buttons << b.caption;
  rec.defaultButton = box.defaultButton;
  rec.icon = box.icon;
  if (answers_.empty()) {
    if (answerCancel_) {
      rec.result = box.buttons.value(box.defaultButton - 1).result;
      for (int wanted : {IDNO, IDCANCEL})
        for (const auto& b : box.buttons)
          if (b.result == wanted) rec.result = wanted;
    } else if (answerDefaults_) {
      rec.result = box.buttons.value(box.defaultButton - 1).result;
    } else {
      ADD_FAILURE() << "unexpected box: \"" << box.text.toStdString() << "\" ["
                    << rec.buttons.join(QLatin1Char('|')).toStdString() << "]";
      rec.result = 0;
    }
    transcript_.push_back(rec);
    return rec.result;
  }
  Pending p = answers_.front();
  answers_.pop_front();
  if (p.expectText) {
    EXPECT_EQ(box.text.toStdString(), p.expectText->toStdString()) << "box text";
  }
  if (p.press) {
    bool found = false;
    for (const auto& b : box.buttons) {
      if (b.caption == *p.press) {
        rec.result = b.result;
        found = true;
      }
    }
    if (!found)
      ADD_FAILURE() << "no button \"" << p.press->toStdString() << "\" in box \""
                    << box.text.toStdString() << "\"";
  } else {
    rec.result = *p.result;
  }
  transcript_.push_back(rec);
  return rec.result;
}

void ScriptedHost::OpenNotice(const MbNoticeSpec& spec) {
  noticeOpen_ = true;
  noticeSteps_ = 0;
  lastNotice_ = spec;
  Record rec;
  rec.kind = QStringLiteral("notice");
  rec.text = spec.text;
  rec.caption = spec.caption;
  transcript_.push_back(rec);
}

void ScriptedHost::StepNotice(int n) {
  noticeSteps_ += n;
}

void ScriptedHost::CloseNotice() {
  noticeOpen_ = false;
  Record rec;
  rec.kind = QStringLiteral("notice-close");
  transcript_.push_back(rec);
}

FakeClock::FakeClock(QDateTime start) : now_(std::move(start)) {
  SetClock(this);
}

FakeClock::~FakeClock() {
  SetClock(nullptr);
}

void FakeClock::Wait(int ms) {
  if (QCoreApplication::instance()) QCoreApplication::processEvents();
  waited_ += ms;
  Advance(ms);
}

void FakeClock::Advance(int64_t ms) {
  tick_ += ms;
  now_ = now_.addMSecs(ms);
}
