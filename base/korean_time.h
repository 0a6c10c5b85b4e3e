// Date texts in the Korean locale ("ko_KR"), shared by the push client's
// notes and the status lines: a clock time such as "오후 3:07", a month-day
// time such as "12월 5일 오후 3:07", and the calendar-day comparison that
// picks between them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/time.h"

namespace corvid {

class KoreanTimeFormat {
 public:
  // Formats in the time zone with the given identifier ("Asia/Seoul",
  // "UTC"); with none, in the system's time zone as it is at creation.
  explicit KoreanTimeFormat(std::string_view timeZoneId = {});
  ~KoreanTimeFormat();
  KoreanTimeFormat(const KoreanTimeFormat&) = delete;
  KoreanTimeFormat& operator=(const KoreanTimeFormat&) = delete;

  // Hour and minute in their default digits with the abbreviated AM/PM
  // marker: "오후 3:07" at 15:07.
  std::string clockTime(Time t) const;
  // Abbreviated month, day, hour and minute: "12월 5일 오후 3:07".
  std::string monthDayTime(Time t) const;
  // Whether both dates fall on the same calendar day in this time zone.
  bool sameDay(Time a, Time b) const;

  // The process-wide instance in the system's time zone, created on first
  // use and kept. Main thread only, like every user of it.
  static const KoreanTimeFormat& shared();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvid
