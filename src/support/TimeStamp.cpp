#include "support/TimeStamp.h"

#include <chrono>

LONGLONG TimeStampFromUnixSeconds(LONGLONG seconds) {
  // Civil date from days since the epoch (proleptic Gregorian calendar).
  LONGLONG days = seconds / 86400;
  LONGLONG rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const LONGLONG era = (days >= 0 ? days : days - 146096) / 146097;
  const LONGLONG dayOfEra = days - era * 146097;
  const LONGLONG yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const LONGLONG dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const LONGLONG shiftedMonth = (5 * dayOfYear + 2) / 153;
  const LONGLONG day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const LONGLONG month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const LONGLONG year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return ((((year * 100 + month) * 100 + day) * 100 + rest / 3600) * 100 + rest % 3600 / 60) * 100 +
         rest % 60;
}

LONGLONG CurrentTimeStamp() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return TimeStampFromUnixSeconds(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}
