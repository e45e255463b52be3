#include "app/mb.h"

namespace {

IMbHost* g_host = nullptr;
bool g_terminating = false;
MbUnattendedSink g_unattended;
bool g_noticeShown = false;
bool g_noticeHasGauge = false;

void FillCaptions(MbState& s) {
  auto fill = [](QString& c, const char* text) {
    if (c.isEmpty()) c = QString::fromLatin1(text);
  };
  fill(s.yes, "&Yes");
  fill(s.no, "&No");
  fill(s.cancel, "&Cancel");
  fill(s.ok, "&OK");
  fill(s.retry, "&Retry");
  fill(s.abort, "&Abort");
  fill(s.ignore, "Ignore");
}

// Unattended mode: the box goes to the sink and its default button answers it.
int AnswerUnattended(const MbBox& box) {
  const bool failure = box.buttons.size() > 1 || box.icon == MB_ICONERROR ||
                       box.icon == MB_ICONEXCLAMATION || box.icon == MB_ICONQUESTION;
  g_unattended(MbUnattendedText(box), failure);
  return box.buttons.value(box.defaultButton - 1).result;
}

}  // namespace

MbState& MbModuleState() {
  static MbState state;
  return state;
}

void SetMbHost(IMbHost* host) {
  g_host = host;
  g_noticeShown = false;
  g_noticeHasGauge = false;
}

IMbHost* MbHost() {
  return g_host;
}

void SetMbTerminating(bool terminating) {
  g_terminating = terminating;
}
bool MbTerminating() {
  return g_terminating;
}

void SetMbUnattended(MbUnattendedSink sink) {
  g_unattended = std::move(sink);
}

bool MbUnattended() {
  return static_cast<bool>(g_unattended);
}

void MbUnattendedNote(const QString& text) {
  if (g_unattended) g_unattended(text, false);
}

bool MbUnattendedCancel(const QString& what) {
  if (!g_unattended) return false;
  g_unattended(what + QStringLiteral(" (no user: cancelled)"), true);
  return true;
}

QString MbUnattendedText(const MbBox& box) {
  QString text = box.text;
  // "&&" stands for one "&", as the box shows it.
  text.replace(QStringLiteral("&&"), QStringLiteral("&"));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& l : lines) l = l.trimmed();
  lines.removeAll(QString());
  text = lines.join(QStringLiteral(" / "));
  if (box.buttons.size() > 1) {
    QString answer = box.buttons.value(box.defaultButton - 1).caption;
    answer.remove(QLatin1Char('&'));
    text += QStringLiteral(" [answered: ") + answer + QLatin1Char(']');
  }
  return text;
}

QStringList MbSplitCaptions(const QString& captions) {
  QString s = captions;
  if (s.startsWith(QLatin1Char('|'))) s.remove(0, 1);
  if (s.isEmpty()) return {};
  if (!s.endsWith(QLatin1Char('|'))) s += QLatin1Char('|');
  QStringList parts = s.split(QLatin1Char('|'));
  parts.removeLast();  // the empty text after the final bar
  return parts;
}

bool MbBuildMessage(const QString& text, const QString& caption, bool silent, int flags,
                    MbBox& box) {
  if (flags >= 65536) flags -= 65536;
  const int set = flags & 0x0F;
  const int icon = flags & 0xF0;
  const int def = (flags & 0xF00) >> 8;
  if (set > MB_RETRYCANCEL) return false;
  MbState& st = MbModuleState();
  FillCaptions(st);
  box = MbBox{};
  box.kind = MbBox::Message;
  box.text = text;
  box.caption = caption;
  box.icon = (icon == MB_ICONERROR || icon == MB_ICONQUESTION || icon == MB_ICONEXCLAMATION ||
              icon == MB_ICONINFORMATION)
                 ? icon
                 : 0;
  box.beep = !silent;
  // Every box comes up on top of all other windows.
  box.stayOnTop = true;
  box.bringToFront = true;
  auto add = [&](const QString& c, int result, bool cancelKind) {
    box.buttons.push_back(MbButton{c, result, cancelKind});
  };
  switch (set) {
    case MB_OK:
      add(st.ok, IDOK, false);
      break;
    case MB_OKCANCEL:
      add(st.ok, IDOK, false);
      add(st.cancel, IDCANCEL, true);
      break;
    case MB_ABORTRETRYIGNORE:
      add(st.abort, IDABORT, false);
      add(st.retry, IDRETRY, false);
      add(st.ignore, IDIGNORE, false);
      break;
    case MB_YESNOCANCEL:
      add(st.yes, IDYES, false);
      add(st.no, IDNO, true);
      add(st.cancel, IDCANCEL, true);
      break;
    case MB_YESNO:
      add(st.yes, IDYES, false);
      add(st.no, IDNO, true);
      break;
    case MB_RETRYCANCEL:
      add(st.retry, IDRETRY, false);
      add(st.cancel, IDCANCEL, true);
      break;
  }
  // With both No and Cancel present, Escape means Cancel.
  if (set == MB_YESNOCANCEL) box.buttons[1].cancelKind = false;
  box.defaultButton = def + 1;
  if (box.defaultButton > box.buttons.size()) box.defaultButton = 1;
  return true;
}

int MbMessage(const QString& text, const QString& caption, bool silent, int flags) {
  MbBox box;
  if (!MbBuildMessage(text, caption, silent, flags, box)) return 0;
  if (g_terminating) return 0;
  if (g_unattended) return AnswerUnattended(box);
  if (!g_host) return 0;
  if (box.caption.isEmpty()) box.caption = g_host->ActiveCaption();
  return g_host->ShowBox(box);
}

int MbInfo(const QString& text) {
  return MbMessage(text, QString(), true, MB_ICONINFORMATION + MB_OK);
}

int MbChoice(const QString& text, const QString& caption, int defaultButton,
             const QString& captions) {
  const QStringList names = MbSplitCaptions(captions);
  if (names.isEmpty()) return 0;
  if (g_terminating || (!g_host && !g_unattended)) return 0;
  MbBox box;
  box.kind = MbBox::Choice;
  box.text = text;
  box.caption = caption.isEmpty() && g_host ? g_host->ActiveCaption() : caption;
  box.icon = 0;
  box.beep = false;
  box.stayOnTop = true;
  // A choice brings the program forward only when one of its windows is active.
  box.bringToFront = g_host && !g_host->ActiveCaption().isEmpty();
  for (int i = 0; i < names.size(); ++i) box.buttons.push_back(MbButton{names[i], 11 + i, false});
  box.defaultButton = (defaultButton >= 1 && defaultButton <= names.size()) ? defaultButton : 1;
  if (g_unattended) return AnswerUnattended(box);
  return g_host->ShowBox(box);
}

bool MbNotice(const MbNoticeSpec& spec) {
  if (g_noticeShown || !g_host) return false;
  g_noticeShown = true;
  g_noticeHasGauge = spec.withGauge;
  g_host->OpenNotice(spec);
  return true;
}

bool MbNoticeText(const QString& text, const QString& caption) {
  MbNoticeSpec spec;
  spec.text = text;
  spec.caption = caption;
  spec.stayOnTop = true;
  return MbNotice(spec);
}

bool MbNoticeStep(int n) {
  if (!g_noticeShown || !g_noticeHasGauge || !g_host) return false;
  g_host->StepNotice(n);
  return true;
}

bool MbNoticeClose() {
  if (!g_noticeShown) return false;
  g_noticeShown = false;
  g_noticeHasGauge = false;
  if (g_host) g_host->CloseNotice();
  return true;
}

bool MbNoticeShown() {
  return g_noticeShown;
}
