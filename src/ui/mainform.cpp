#include "ui/mainform.h"

TMainform::TMainform(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Arcavo V") +
                 QStringLiteral(ARCAVO_VERSION).remove(QLatin1Char('.')));
  resize(800, 600);
}
