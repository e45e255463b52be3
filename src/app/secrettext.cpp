#include "app/secrettext.h"

#include <QByteArray>

#include "archive/zipaes.h"

std::string TakeSecret(QString& text) {
  QByteArray utf8 = text.toUtf8();
  std::string secret(utf8.constData(), static_cast<size_t>(utf8.size()));
  WipeBytes(utf8.data(), static_cast<size_t>(utf8.size()));
  text.fill(QChar(u'\0'));
  text.clear();
  return secret;
}
