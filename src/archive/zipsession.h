// TZipSession: one operation's hold on the program's one engine.
//
// Every user of the engine (a backup run, a counting run, an extraction, "Open", the archive read
// for the view, a test, a delete, a comment save) takes a session for the length of its operation.
// The session installs that operation's handlers and settings on top of the engine's idle state
// and gives the idle state back when it ends, whichever way it ends (normally, cancelled, by an
// exception): the handlers and settings it found, no password, no selected entry, no cancel or
// pause request, DestDir as it was. Nothing an operation sets survives into the next one.
//
// The idle state holds the handlers the program keeps on the engine for every operation (the
// status bar, the gauge and the report); a session's listeners come after those, or before them
// when asked, in the order they were added. A second session while one holds the engine, or while
// an operation runs on it, is refused: it installs nothing and restores nothing.
#pragma once

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "archive/arczip.h"

class TZipSession {
 public:
  enum class TOrder { After, First };

  explicit TZipSession(TArcUnZip& engine);
  ~TZipSession();
  TZipSession(const TZipSession&) = delete;
  TZipSession& operator=(const TZipSession&) = delete;

  // True when the engine was busy (another session holds it, or an operation runs).
  bool Refused() const { return refused_; }
  explicit operator bool() const { return !refused_; }
  TArcUnZip& Engine() { return z_; }

  // Adds a listener to one event: after the handlers already there (the program's own, the
  // listeners added before), or in front of them with TOrder::First. When the event's last
  // parameter is an in-out flag (Skip, StopNow, Retry), a listener that sets it ends the event:
  // the listeners after it are not called.
  template <class S, class F>
  void Listen(F S::*event, std::type_identity_t<F> handler, TOrder order = TOrder::After) {
    F& slot = Events<S>().*event;
    slot = order == TOrder::After ? Chain(std::move(slot), std::move(handler))
                                  : Chain(std::move(handler), std::move(slot));
  }
  // Makes handler the event's only listener for this session; the program's own handler is set
  // aside until the session ends.
  template <class S, class F>
  void Handle(F S::*event, std::type_identity_t<F> handler) {
    Events<S>().*event = std::move(handler);
  }
  // True when the event has a listener now.
  template <class S, class F>
  bool Has(F S::*event) {
    return static_cast<bool>(Events<S>().*event);
  }

 private:
  template <class S>
  S& Events() {
    if constexpr (std::is_same_v<S, TUnZipEvents>)
      return z_;
    else
      return Writer();
  }
  TZipWriteEvents& Writer();

  // first, then second unless first ended the event. The pair is kept alive for the call: a
  // listener may clear the event it is called from.
  template <class... A>
  static std::function<void(A...)> Chain(std::function<void(A...)> first,
                                         std::function<void(A...)> second) {
    if (!first) return second;
    if (!second) return first;
    using F = std::function<void(A...)>;
    auto pair = std::make_shared<std::pair<F, F>>(std::move(first), std::move(second));
    return [pair](A... a) {
      const auto keep = pair;
      keep->first(a...);
      if constexpr (sizeof...(A) > 0) {
        using Last = std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>;
        if constexpr (std::is_same_v<Last, bool&>) {
          if (std::get<sizeof...(A) - 1>(std::forward_as_tuple(a...))) return;
        }
      }
      keep->second(a...);
    };
  }

  TArcUnZip& z_;
  TArcZip* writer_ = nullptr;
  bool refused_ = false;
  TZipEvents idleEvents_;
  TZipOptions idleOptions_;
  std::string idleDestDir_;
};
