// Arcavo: wires the window to the application core.
#include <QApplication>

#include "ui/mainform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("arcavo"));
  TMainform form;
  form.show();
  return app.exec();
}
