#include "ui/x11hotkey.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr uint32_t kNumLock = 0xff7f;
constexpr uint32_t kScrollLock = 0xff14;

xcb_connection_t* Connection() {
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

xcb_window_t RootWindow(xcb_connection_t* c) {
  const xcb_setup_t* setup = xcb_get_setup(c);
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
  return it.rem ? it.data->root : XCB_NONE;
}

struct TKeySyms {
  xcb_key_symbols_t* p;
  explicit TKeySyms(xcb_connection_t* c) : p(xcb_key_symbols_alloc(c)) {}
  ~TKeySyms() {
    if (p) xcb_key_symbols_free(p);
  }
  QVector<uint8_t> Keycodes(uint32_t keysym) const {
    QVector<uint8_t> out;
    if (!p) return out;
    std::unique_ptr<xcb_keycode_t, decltype(&std::free)> codes(
        xcb_key_symbols_get_keycode(p, keysym), &std::free);
    for (xcb_keycode_t* k = codes.get(); k && *k != XCB_NO_SYMBOL; ++k)
      if (!out.contains(*k)) out << *k;
    return out;
  }
};

// The modifier mask that holds one of keycodes (NumLock sits on Mod2 on most keyboards).
uint16_t ModifierOf(xcb_connection_t* c, const QVector<uint8_t>& keycodes) {
  if (keycodes.isEmpty()) return 0;
  xcb_get_modifier_mapping_reply_t* reply =
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
  if (!reply) return 0;
  uint16_t mask = 0;
  const xcb_keycode_t* map = xcb_get_modifier_mapping_keycodes(reply);
  const int per = reply->keycodes_per_modifier;
  for (int mod = 0; mod < 8 && !mask; ++mod)
    for (int i = 0; i < per; ++i)
      if (map[mod * per + i] != 0 && keycodes.contains(map[mod * per + i])) {
        mask = uint16_t(1u << mod);
        break;
      }
  std::free(reply);
  return mask;
}

}  // namespace

uint32_t KeysymOfVirtualKey(int vk) {
  if (vk >= 65 && vk <= 90) return uint32_t('a' + vk - 65);
  if (vk >= 48 && vk <= 57) return uint32_t(vk);
  if (vk >= 112 && vk <= 123) return 0xffbe + uint32_t(vk - 112);
  if (vk >= 96 && vk <= 105) return 0xffb0 + uint32_t(vk - 96);
  if (vk >= 33 && vk <= 40) {
    static const uint32_t nav[] = {0xff55, 0xff56, 0xff57, 0xff50, 0xff51, 0xff52, 0xff53, 0xff54};
    return nav[vk - 33];
  }
  if (vk >= 186 && vk <= 192) return uint32_t(";=,-./`"[vk - 186]);
  if (vk >= 219 && vk <= 222) return uint32_t("[\\]'"[vk - 219]);
  switch (vk) {
    case 8:
      return 0xff08;
    case 9:
      return 0xff09;
    case 13:
      return 0xff0d;
    case 19:
      return 0xff13;
    case 27:
      return 0xff1b;
    case 32:
      return 0x20;
    case 42:
      return 0xff61;
    case 45:
      return 0xff63;
    case 46:
      return 0xffff;
    case 106:
      return 0xffaa;
    case 107:
      return 0xffab;
    case 109:
      return 0xffad;
    case 110:
      return 0xffae;
    case 111:
      return 0xffaf;
    case 144:
      return kNumLock;
    default:
      return 0;
  }
}

TX11HotkeyGrab::TX11HotkeyGrab(QObject* parent) : QObject(parent) {
  if (Available()) qApp->installNativeEventFilter(this);
}

TX11HotkeyGrab::~TX11HotkeyGrab() {
  Release();
  if (qApp) qApp->removeNativeEventFilter(this);
}

bool TX11HotkeyGrab::Available() const {
  return QGuiApplication::platformName() == QLatin1String("xcb") && Connection();
}

bool TX11HotkeyGrab::Grab(int modifiers, int virtualKey) {
  Release();
  xcb_connection_t* c = Connection();
  const uint32_t keysym = KeysymOfVirtualKey(virtualKey);
  if (!c || !keysym) return false;
  const xcb_window_t root = RootWindow(c);
  TKeySyms syms(c);
  keycodes_ = syms.Keycodes(keysym);
  if (keycodes_.isEmpty()) return false;
  mods_ = 0;
  if (modifiers & hotkey::kAlt) mods_ |= XCB_MOD_MASK_1;
  if (modifiers & hotkey::kCtrl) mods_ |= XCB_MOD_MASK_CONTROL;
  if (modifiers & hotkey::kShift) mods_ |= XCB_MOD_MASK_SHIFT;
  if (modifiers & hotkey::kWin) mods_ |= XCB_MOD_MASK_4;
  const uint16_t locks[] = {XCB_MOD_MASK_LOCK, ModifierOf(c, syms.Keycodes(kNumLock)),
                            ModifierOf(c, syms.Keycodes(kScrollLock))};
  ignored_ = locks[0] | locks[1] | locks[2];
  // Every combination of the lock states, each once.
  QVector<uint16_t> extras;
  for (int set = 0; set < 8; ++set) {
    uint16_t extra = 0;
    for (int i = 0; i < 3; ++i)
      if (set & (1 << i)) extra |= locks[i];
    if (!extras.contains(extra)) extras << extra;
  }
  QVector<xcb_void_cookie_t> cookies;
  for (uint8_t keycode : keycodes_)
    for (uint16_t extra : extras) {
      grabs_.push_back({keycode, uint16_t(mods_ | extra)});
      cookies << xcb_grab_key_checked(c, 1, root, uint16_t(mods_ | extra), keycode,
                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
  // A combination another client holds is refused with BadAccess.
  bool refused = false;
  for (const xcb_void_cookie_t& cookie : cookies)
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
      refused = true;
      std::free(error);
    }
  if (refused) Release();
  return !refused;
}

void TX11HotkeyGrab::Release() {
  xcb_connection_t* c = Connection();
  if (c && !grabs_.isEmpty()) {
    const xcb_window_t root = RootWindow(c);
    for (const TGrab& g : grabs_) xcb_ungrab_key(c, g.keycode, root, g.mods);
    xcb_flush(c);
  }
  grabs_.clear();
  keycodes_.clear();
}

bool TX11HotkeyGrab::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (grabs_.isEmpty() || eventType != "xcb_generic_event_t") return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  fprintf(stderr, "DBG type %d\n", event->response_type & 0x7f);
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
  auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
  if (!keycodes_.contains(key->detail)) return false;
  const uint16_t relevant =
      XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
  if ((key->state & relevant & ~ignored_) != mods_) return false;
  emit pressed();
  return true;
}
