// HTTP dates of the local proxy: If-Modified-Since of browser requests in, Date and
// Last-Modified of the answers made from local files out.
#pragma once

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace velm {

// Output names, indexed 1..7 (1 = Sunday, as DayOfWeek counts) and 1..12; entry 0 is empty.
extern const char* const DayNames[8];
extern const char* const MonthNames[13];

// The local date-time a header date denotes. Accepts RFC 1123, RFC 850 and asctime forms, a
// numeric zone or none (no zone and "GMT" mean UTC) and an AM/PM marker. Text that is not a date
// gives a value within a day of 30 December 1899; empty text gives exactly 0. Raises only when
// the machine's time zone cannot be read.
TDateTime ParseHttpDate(std::string_view text);

// "Sat, 5 Feb 2011 13:20:30 +0300": the local value as given, with the machine's zone offset.
std::string FormatHttpDate(TDateTime value);

// Local time minus UTC as a fraction of a day, positive east of Greenwich. Raises
// std::runtime_error "WRONG DATETIME ZONE" when the zone cannot be read.
TDateTime LocalZoneOffset();

// Steps of the parser and formatter, kept visible for their own tests.

// The part of text before the first delim; the whole text when delim does not occur. With
// remove, text keeps only what follows delim (nothing when it does not occur).
std::string_view SplitText(std::string_view& text, char delim, bool remove);
// 1-based position of a three-letter day or month name in any letter case, 0 when unknown.
int DayIndex(std::string_view token);
int MonthIndex(std::string_view token);
// Date and time of the text; text is left holding the zone part (or what was left when the
// parse failed, in which case the result is 0).
TDateTime ParseDateTime(std::string_view& text);
// "+HHMM" / "-HHMM" as a signed fraction of a day; anything else gives 0.
TDateTime ParseZoneOffset(std::string_view text);
// "+0300", "-0330".
std::string FormatZoneOffset(TDateTime offset);

}  // namespace velm
