#include <gtest/gtest.h>

#include "base/korean_time.h"

using namespace corvid;
using namespace std::chrono;

TEST(KoreanTime, ClockAndMonthDayTimesAndTheDayFollowTheTimeZone) {
  const Time afternoon = Time{} + seconds(1764947250);  // 2025-12-05 15:07:30 UTC
  KoreanTimeFormat utc("UTC");
  KoreanTimeFormat seoul("Asia/Seoul");  // UTC+9: already the 6th, after midnight
  EXPECT_EQ(utc.clockTime(afternoon), "오후 3:07");
  EXPECT_EQ(utc.clockTime(afternoon - hours(15) - minutes(7)), "오전 12:00");
  EXPECT_EQ(utc.monthDayTime(afternoon), "12월 5일 오후 3:07");
  EXPECT_EQ(seoul.monthDayTime(afternoon), "12월 6일 오전 12:07");

  Time lateEvening = afternoon + hours(8) + minutes(50);  // 23:57 UTC
  EXPECT_TRUE(utc.sameDay(afternoon, lateEvening));
  EXPECT_FALSE(utc.sameDay(lateEvening, lateEvening + minutes(5)));
  EXPECT_FALSE(seoul.sameDay(afternoon - minutes(10), afternoon));  // 23:57 and 00:07 in Seoul
}
