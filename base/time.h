// Wall-clock time and the clock interface.
#pragma once

#include <chrono>

namespace corvid {

// A wall-clock date. Page data carries milliseconds since the Unix epoch;
// stored pairing dates are seconds since 2001-01-01 00:00:00 UTC.
using Time = std::chrono::system_clock::time_point;
using Duration = std::chrono::system_clock::duration;

using std::chrono::milliseconds;
using std::chrono::seconds;

// Source of the current date. The Linux build reads the system clock; tests
// use the virtual loop, whose time only moves when the test advances it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual Time now() const = 0;
};

// Seconds elapsed from `from` to `to`, as a double.
inline double secondsBetween(Time from, Time to) {
  return std::chrono::duration<double>(to - from).count();
}

// Milliseconds since the Unix epoch.
inline double unixMillis(Time t) {
  return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

// A date far in the past, for "never happened" fields.
inline Time distantPast() { return Time{} - std::chrono::hours(24 * 365 * 100); }

}  // namespace corvid
