#include "base/korean_time.h"

#include <unicode/calendar.h>
#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace corvid {

namespace {

const icu::Locale& koreanLocale() {
  static const icu::Locale locale("ko_KR");
  return locale;
}

// A formatter for `skeleton` (the locale picks order and separators), or for
// the fixed Korean `pattern` should the locale data lack the skeleton.
std::unique_ptr<icu::DateFormat> makeFormat(const char* skeleton, const char16_t* pattern,
                                            const icu::TimeZone& zone) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createInstanceForSkeleton(icu::UnicodeString(skeleton), koreanLocale(), status));
  if (U_FAILURE(status) || !format) {
    status = U_ZERO_ERROR;
    format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(pattern), koreanLocale(), status);
    if (U_FAILURE(status)) return nullptr;
  }
  format->setTimeZone(zone);
  return format;
}

UDate toUDate(Time t) {
  return static_cast<UDate>(std::chrono::floor<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

}  // namespace

struct KoreanTimeFormat::Impl {
  std::unique_ptr<icu::TimeZone> zone;
  std::unique_ptr<icu::DateFormat> clock;
  std::unique_ptr<icu::DateFormat> monthDay;
  std::unique_ptr<icu::Calendar> calendar;  // for day comparisons; reset on each use

  std::string format(const icu::DateFormat* f, Time t) const {
    if (!f) return {};
    icu::UnicodeString text;
    f->format(toUDate(t), text);
    std::string out;
    text.toUTF8String(out);
    return out;
  }

  int julianDay(Time t) const {
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(toUDate(t), status);
    int day = calendar->get(UCAL_JULIAN_DAY, status);
    return U_SUCCESS(status) ? day : 0;
  }
};

KoreanTimeFormat::KoreanTimeFormat(std::string_view timeZoneId) : impl_(std::make_unique<Impl>()) {
  if (timeZoneId.empty()) {
    impl_->zone.reset(icu::TimeZone::createDefault());
  } else {
    impl_->zone.reset(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(timeZoneId.data(), static_cast<int32_t>(timeZoneId.size())))));
  }
  impl_->clock = makeFormat("hm", u"a h:mm", *impl_->zone);
  impl_->monthDay = makeFormat("MMMdhm", u"MMM d일 a h:mm", *impl_->zone);
  UErrorCode status = U_ZERO_ERROR;
  impl_->calendar.reset(icu::Calendar::createInstance(*impl_->zone, koreanLocale(), status));
  if (U_FAILURE(status)) impl_->calendar.reset();
}

KoreanTimeFormat::~KoreanTimeFormat() = default;

std::string KoreanTimeFormat::clockTime(Time t) const { return impl_->format(impl_->clock.get(), t); }

std::string KoreanTimeFormat::monthDayTime(Time t) const { return impl_->format(impl_->monthDay.get(), t); }

bool KoreanTimeFormat::sameDay(Time a, Time b) const {
  if (!impl_->calendar) return false;
  return impl_->julianDay(a) == impl_->julianDay(b);
}

const KoreanTimeFormat& KoreanTimeFormat::shared() {
  static const KoreanTimeFormat instance;
  return instance;
}

}  // namespace corvid
