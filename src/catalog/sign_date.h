// The catalog's effective date (the ThisUpdate of the certificate trust list it is).
#pragma once

#include "base/date_text.h"
#include "platform/ctl.h"

namespace halyard {

// The first and last accepted effective dates: 1 January 2000 and 21 June 2020, 00:00.
inline constexpr TDateTime kSignDateFirst = 36526.0;
inline constexpr TDateTime kSignDateLast = 44003.0;

// The catalog's ThisUpdate, or 0 after a diagnostic line when it cannot be read or lies outside
// the accepted window.
TDateTime GetSignDateOfCAT(const std::string& path);

// A FILETIME as a date-time value, in UTC (no time-zone change); 0 for a FILETIME beyond the
// range the platform converts (from 0x8000000000000000 on).
TDateTime FileTimeToDateTime(platform::FileTime ct);

} // namespace halyard
