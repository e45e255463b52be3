// Arcavo: wires the window to the application core.
#include <QApplication>

#include "app/mb.h"
#include "ui/mainform.h"
#include "ui/mbdialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("arcavo"));
  TMainform form;
  QtMbHost boxes(&form);
  SetMbHost(&boxes);
  form.show();
  int rc = app.exec();
  SetMbHost(nullptr);
  return rc;
}
