// The global hotkey's grab on a real X server (Xvfb), pressed by xdotool from outside the
// program: one press gives one event, with NumLock on too, none after the grab is released, and a
// combination another client holds is refused. Skipped where Xvfb or xdotool is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <cstdlib>
#include <memory>

#include "testutil.h"
#include "ui/x11hotkey.h"

namespace {

bool g_display = false;

int Presses(TX11HotkeyGrab& grab, const std::string& keys) {
  int n = 0;
  QObject counter;
  QObject::connect(&grab, &TX11HotkeyGrab::pressed, &counter, [&n] { ++n; });
  const auto r = testutil::Run("xdotool key " + keys);
  EXPECT_EQ(r.status, 0) << r.out;
  // The press travels through the server and back; give it time to arrive (and a second one
  // time to show up, were there one).
  for (QDeadlineTimer end(700); !end.hasExpired();)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return n;
}

TEST(X11Hotkey, GrabbedCombinationFiresOnceAndOnlyWhileGrabbed) {
  if (!g_display) GTEST_SKIP() << "no X server (Xvfb) or no xdotool";
  TX11HotkeyGrab grab;
  ASSERT_TRUE(grab.Available());
  ASSERT_TRUE(grab.Grab(hotkey::kCtrl | hotkey::kAlt, 116));  // CTRL+ALT+F5
  EXPECT_EQ(Presses(grab, "ctrl+alt+F5"), 1);
  EXPECT_EQ(Presses(grab, "ctrl+F5"), 0);
  EXPECT_EQ(Presses(grab, "ctrl+alt+shift+F5"), 0);
  // NumLock on changes the state the server reports; the grab covers it.
  ASSERT_EQ(testutil::Run("xdotool key Num_Lock").status, 0);
  EXPECT_EQ(Presses(grab, "ctrl+alt+F5"), 1);
  ASSERT_EQ(testutil::Run("xdotool key Num_Lock").status, 0);
  // A keypad key is found by its keysym.
  ASSERT_TRUE(grab.Grab(hotkey::kCtrl, 96));  // CTRL+NUMPAD 0
  EXPECT_EQ(Presses(grab, "ctrl+alt+F5"), 0);
  grab.Release();
  EXPECT_EQ(Presses(grab, "ctrl+alt+F5"), 0);

  // Another program holds CTRL+ALT+F6: the grab is refused and holds nothing.
  xcb_connection_t* other = xcb_connect(nullptr, nullptr);
  ASSERT_FALSE(xcb_connection_has_error(other));
  xcb_key_symbols_t* syms = xcb_key_symbols_alloc(other);
  xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, KeysymOfVirtualKey(117));
  ASSERT_TRUE(codes && codes[0] != XCB_NO_SYMBOL);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
  xcb_generic_error_t* error = xcb_request_check(
      other, xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, codes[0],
                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  ASSERT_EQ(error, nullptr);
  EXPECT_FALSE(grab.Grab(hotkey::kCtrl | hotkey::kAlt, 117));
  // The other program lets go (answered, so the server has done it before the next grab).
  std::free(xcb_request_check(
      other, xcb_ungrab_key_checked(other, codes[0], root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1)));
  std::free(codes);
  xcb_key_symbols_free(syms);
  xcb_disconnect(other);
  // Free again once the other program has let go.
  EXPECT_TRUE(grab.Grab(hotkey::kCtrl | hotkey::kAlt, 117));
  EXPECT_EQ(Presses(grab, "ctrl+alt+F6"), 1);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  pid_t server = 0;
  std::unique_ptr<testutil::TempDir> scratch;
  if (testutil::HaveTool("Xvfb") && testutil::HaveTool("xdotool")) {
    scratch = std::make_unique<testutil::TempDir>();
    const std::string log = *scratch / "display";
    // -displayfd writes the number of a free display once the server is ready; -noreset keeps
    // the keymap set below when its last client leaves.
    server = testutil::Spawn({"/bin/sh", "-c",
                              "exec Xvfb -displayfd 3 -nolisten tcp -noreset 3>" +
                                  testutil::Quote(log) + " 2>/dev/null"});
    for (QDeadlineTimer end(10000); !end.hasExpired(); QThread::msleep(50)) {
      const std::string n = testutil::Exists(log) ? testutil::ReadFile(log) : std::string();
      if (!n.empty() && n.back() == '\n') {
        ::setenv("DISPLAY", (":" + n.substr(0, n.size() - 1)).c_str(), 1);
        // The standard keymap makes the server itself take CTRL+ALT+F1..F12 (switching to a
        // virtual terminal), so no program ever sees them; this server is told not to.
        if (testutil::HaveTool("setxkbmap")) testutil::Run("setxkbmap -option srvrkeys:none");
        g_display = true;
        break;
      }
    }
  }
  int rc;
  if (g_display) {
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QGuiApplication app(argc, argv);
    rc = RUN_ALL_TESTS();
  } else {
    rc = RUN_ALL_TESTS();
  }
  if (server > 0) {
    ::kill(server, SIGTERM);
    testutil::WaitExit(server, 5000);
  }
  return rc;
}
