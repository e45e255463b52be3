// The report box's text rules, shared by the window's box and the in-memory box of tests and
// headless runs: how added text becomes lines, and how lines become an archive comment or a
// report file and back.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "backup/reporthosts.h"

// Splits text at every CR LF, CR or LF. With keepTrailing, a text ending in a line break gives
// an empty last line (as adding it to the box does); without, it does not (as loading a text
// whose every line ends in a break).
QStringList SplitBoxLines(const QString& text, bool keepTrailing);

// The comment as lines for the box: plain text, line breaks and blanks kept.
QStringList CommentToLines(const std::string& comment);
// The box's whole text as comment bytes (UTF-8): every line followed by CR LF.
std::string LinesToComment(const QStringList& lines);
// Comment bytes as text: UTF-8 when they are valid UTF-8, otherwise byte for byte (Latin-1), so
// no byte is lost on the way through the box.
QString CommentText(const std::string& comment);

// The report box without a screen: a list of lines.
class TReportLines : public IReportBox {
 public:
  void Clear() override { lines_.clear(); }
  void Add(const QString& text) override { lines_ += SplitBoxLines(text, true); }
  QStringList Lines() const override { return lines_; }
  void SetLines(const QStringList& lines) override { lines_ = lines; }
  void ScrollToCaret() override { ++scrolls; }
  void SetPlainText(bool on) override { plainText = on; }
  void SetWordWrap(bool on) override { wordWrap = on; }
  void SetReadOnly(bool on) override { readOnly = on; }
  void SetWantReturns(bool on) override { wantReturns = on; }
  void SetHint(const QString& h) override { hint = h; }

  int scrolls = 0;
  bool plainText = false;
  bool wordWrap = true;
  bool readOnly = true;
  bool wantReturns = false;
  QString hint;

 private:
  QStringList lines_;
};
