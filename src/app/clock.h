// The program's clock and Delay.
//
// Everything that waits or reads the time of day goes through the current Clock, so tests can
// replace it with one that never waits real time.
#pragma once

#include <QDateTime>
#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime Now() const = 0;
  // Milliseconds from an arbitrary start; never goes backwards.
  virtual int64_t TickMs() const = 0;
  // Waits ms milliseconds while the window stays alive.
  virtual void Wait(int ms) = 0;
};

// The real clock: Wait runs a nested event loop with a timer (no busy spinning); without an
// application object it sleeps.
class SystemClock : public Clock {
 public:
  QDateTime Now() const override;
  int64_t TickMs() const override;
  void Wait(int ms) override;
};

// The current clock (the system clock unless replaced).
Clock& CurrentClock();
// Replaces the current clock (nullptr restores the system clock). Not owned.
void SetClock(Clock* clock);

// Waits ms milliseconds while dispatching window events.
void Delay(int ms);
