// The main window.
#pragma once

#include <QMainWindow>

class TMainform : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainform(QWidget* parent = nullptr);
};
