// Message boxes: every question and notice of the program goes through these functions.
//
// The boxes themselves are drawn by a host (IMbHost): the window's Qt dialogs in the program, a
// scripted host in tests. The rules that do not depend on drawing live here and are shared by
// both: the Windows MB_ flag values and their buttons, the splitting of free button captions at
// "|", the one-notice-at-a-time rule and the results.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

// Button sets, icons and default buttons, added together into the flags of MbMessage.
enum : int {
  MB_OK = 0,
  MB_OKCANCEL = 1,
  MB_ABORTRETRYIGNORE = 2,
  MB_YESNOCANCEL = 3,
  MB_YESNO = 4,
  MB_RETRYCANCEL = 5,
  MB_ICONERROR = 16,
  MB_ICONHAND = 16,
  MB_ICONQUESTION = 32,
  MB_ICONEXCLAMATION = 48,
  MB_ICONWARNING = 48,
  MB_ICONINFORMATION = 64,
  MB_ICONASTERISK = 64,
  MB_DEFBUTTON1 = 0,
  MB_DEFBUTTON2 = 256,
  MB_DEFBUTTON3 = 512,
  MB_DEFBUTTON4 = 768,
};

// Results of MbMessage.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// The event type a notice's Cancel button posts to its cancel target: the order to abort the
// pending work.
constexpr int kNoticeCancelEventType = 1000 + 6;  // QEvent::User + 6

struct MbButton {
  QString caption;
  int result = 0;
  bool cancelKind = false;  // Escape presses it (Cancel, No)
};

// A modal box as the host must show it.
struct MbBox {
  enum Kind { Message, Choice };
  Kind kind = Message;
  QString text;     // with "\r" / "\r\n" line breaks as the caller wrote them
  QString caption;  // already defaulted to the active window's caption when empty
  int icon = 0;     // 0, MB_ICONERROR, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONINFORMATION
  bool beep = false;
  bool stayOnTop = false;
  bool bringToFront = true;  // restore and raise the program's window first
  QVector<MbButton> buttons;
  int defaultButton = 1;  // 1-based position of the button that starts with the focus
};

// A modeless notice window.
struct MbNoticeSpec {
  QString text;
  QString caption;
  bool withCancel = false;
  bool withGauge = false;
  QPointer<QObject> cancelTarget;  // receives kNoticeCancelEventType when Cancel is pressed
  int gaugeMax = 100;
  int gaugeMin = 0;
  int width = 0;   // 0 or less: fit to the content
  int height = 0;  // 0 or less: fit to the content
  unsigned colour = 0;
  bool stayOnTop = true;
  int position = 0;  // 0: centred over the active window (or the desktop)
  QString picture;   // optional image file shown at 20,20
};

// What the screen does for the message boxes.
class IMbHost {
 public:
  virtual ~IMbHost() = default;
  // Shows a modal box and returns the result of the pressed button.
  virtual int ShowBox(const MbBox& box) = 0;
  // Caption of the active window, used for boxes without a caption ("" when none).
  virtual QString ActiveCaption() { return {}; }
  virtual void OpenNotice(const MbNoticeSpec& spec) = 0;
  virtual void StepNotice(int n) = 0;
  virtual void CloseNotice() = 0;
};

// Module state: the captions of the standard buttons, filled in on first use when still empty,
// so a caller may replace them beforehand; forced button size (0 = toolkit default); gauge looks.
struct MbState {
  QString yes, no, cancel, ok, retry, abort, ignore;
  int buttonHeight = 0;
  int buttonWidth = 0;
  int gaugeWidth = 0;
  int gaugeHeight = 0;
  unsigned gaugeForeColour = 0;
  unsigned gaugeBackColour = 0;
};
MbState& MbModuleState();

// Installs the host (nullptr: no host, every box returns 0). Not owned.
void SetMbHost(IMbHost* host);
IMbHost* MbHost();

// Once the program has been told to terminate, modal boxes return at once (0) instead of
// waiting for a user who is not there.
void SetMbTerminating(bool terminating);
bool MbTerminating();

// Unattended mode: the program runs a job without a user (a job and an ACTION on the command
// line, or a job handed over with an ACTION). No box waits then: every modal box, and every
// dialog that asks the user for something (MbUnattendedCancel), is given to the sink instead
// and answered with its default button (a dialog with Cancel). The sink is told whether the
// answer means the run did not go as asked: a question or a warning (more than one button, an
// error, exclamation or question icon, a dialog) does; a plain notice does not.
using MbUnattendedSink = std::function<void(const QString& text, bool failure)>;
// Installs the sink (empty: boxes are shown again).
void SetMbUnattended(MbUnattendedSink sink);
bool MbUnattended();
// In unattended mode, tells the sink a line the user must learn of (a file that could not be
// read); nothing otherwise.
void MbUnattendedNote(const QString& text);
// For dialogs that need a user (a password, a file name): in unattended mode, what is
// reported to the sink and true (the caller answers Cancel); false when a user is there.
bool MbUnattendedCancel(const QString& what);
// The line the sink receives for a box: its text on one line ("\r" and "\n" become " / "),
// and for a box with several buttons the default answer taken.
QString MbUnattendedText(const MbBox& box);

// Building blocks, exposed for the hosts and tests.
// Splits "A|B|C" into its captions: a leading "|" is dropped and a missing trailing one added.
QStringList MbSplitCaptions(const QString& captions);
// Fills box for MbMessage; false when no box is to be shown (button set above 5).
bool MbBuildMessage(const QString& text, const QString& caption, bool silent, int flags,
                    MbBox& box);

// The boxes.
int MbMessage(const QString& text, const QString& caption, bool silent, int flags);
int MbInfo(const QString& text);
int MbChoice(const QString& text, const QString& caption, int defaultButton,
             const QString& captions);
bool MbNotice(const MbNoticeSpec& spec);
bool MbNoticeText(const QString& text, const QString& caption);
bool MbNoticeStep(int n);
bool MbNoticeClose();
bool MbNoticeShown();
