#include <gtest/gtest.h>

#include "base/korean_time.h"

using namespace corvid;
using namespace std::chrono;

namespace {

// 2025-12-05 15:07:30 UTC
const Time kAfternoon = Time{} + seconds(1764947250);

}  // namespace

TEST(KoreanTime, FormatsClockAndMonthDayTimes) {
  KoreanTimeFormat utc("UTC");
  EXPECT_EQ(utc.clockTime(kAfternoon), "오후 3:07");
  EXPECT_EQ(utc.clockTime(kAfternoon - hours(6) - minutes(2)), "오전 9:05");
  EXPECT_EQ(utc.clockTime(kAfternoon - hours(15) - minutes(7)), "오전 12:00");
  EXPECT_EQ(utc.monthDayTime(kAfternoon), "12월 5일 오후 3:07");

  KoreanTimeFormat seoul("Asia/Seoul");  // UTC+9: already the 6th, after midnight
  EXPECT_EQ(seoul.monthDayTime(kAfternoon), "12월 6일 오전 12:07");
}

TEST(KoreanTime, SameDayFollowsTheTimeZone) {
  KoreanTimeFormat utc("UTC");
  KoreanTimeFormat seoul("Asia/Seoul");
  Time lateEvening = kAfternoon + hours(8) + minutes(50);  // 23:57 UTC
  EXPECT_TRUE(utc.sameDay(kAfternoon, lateEvening));
  EXPECT_FALSE(utc.sameDay(lateEvening, lateEvening + minutes(5)));
  EXPECT_FALSE(seoul.sameDay(kAfternoon - minutes(10), kAfternoon));  // 23:57 and 00:07 in Seoul
  EXPECT_TRUE(seoul.sameDay(lateEvening, lateEvening + minutes(5)));
  EXPECT_EQ(&KoreanTimeFormat::shared(), &KoreanTimeFormat::shared());
}
