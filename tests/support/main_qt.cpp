// main() for tests of Qt code: the cases run inside a QApplication (offscreen by default).
//
// Every machine draws the same pixels: the application font is DejaVu Sans (Debian's
// fonts-dejavu-core) at a fixed size, set before any widget exists, whatever fonts or desktop
// settings the machine has.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  // Offscreen, on a screen larger than the window at every test font (the default is 800x600).
  ::setenv("QT_QPA_PLATFORM", "offscreen:configfile=" ARCAVO_TEST_SCREEN_CONFIG, 0);
  QApplication app(argc, argv);
  QFont font(QStringLiteral("DejaVu Sans"), 9);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
  if (!QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
    std::fprintf(stderr, "warning: DejaVu Sans is not installed (package fonts-dejavu-core)\n");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
