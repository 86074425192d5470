#include "catalog/sign_date.h"

#include "base/calendar.h"
#include "report/diagnostics.h"

#include <string>

namespace halyard {

namespace {

using namespace codes;

constexpr const char* kFunc = "GetSignDateOfCAT";

constexpr std::uint64_t kMsPerDay = kSecondsPerDay * 1000;

} // namespace

TDateTime FileTimeToDateTime(platform::FileTime ct) {
    // FileTimeToSystemTime refuses values with the top bit set.
    if (ct >= 0x8000000000000000ull) {
        return 0;
    }
    const std::uint64_t ms = ct / kFileTimeTicksPerMs;
    const auto day =
        static_cast<std::int64_t>(ms / kMsPerDay) + kFileTimeEpochDay - kDateTimeEpochDay;
    return EncodeDayAndTime(day, static_cast<std::int64_t>(ms % kMsPerDay));
}

TDateTime GetSignDateOfCAT(const std::string& path) {
    const auto query = platform::CryptQueryObjectCtl(path);
    if (!query) {
        CollectError(kFunc, "CryptQueryObject fail", path, query.error());
        return 0;
    }
    if (query->contentType != platform::kCertQueryContentCtl) {
        CollectError(kFunc, "Wrong dwContentType: " + std::to_string(query->contentType), path, 0);
        return 0;
    }
    const TDateTime date = FileTimeToDateTime(query->thisUpdate);
    if (date < kSignDateFirst || date > kSignDateLast) {
        CollectError(kFunc, "Wrong result: " + DateTimeToRegionalText(date), path, kNoCode);
        return 0;
    }
    return date;
}

} // namespace halyard
