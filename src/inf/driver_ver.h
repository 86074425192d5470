// DriverVer extraction from an INF file, and the value and version normalisations it uses
// (CorrectVersion is shared with the package check).
#pragma once

#include "base/date_text.h"

#include <string>

namespace halyard {

// Date markers of the extraction: no date text, and a date text that did not parse.
inline constexpr TDateTime kNoDateText = 1.0;
inline constexpr TDateTime kBadDateText = 2.0;

// Cleans one INF value: cut at the first ";", one level of double quotes, then one of square
// brackets removed, blanks stripped.
std::string CorrectValue(const std::string& text);

// Normalises a version text: "," read as ".", quotes around it removed, every dot-separated
// component written back as a plain decimal number ("1,02,0003,4" -> "1.2.3.4"; an empty
// component becomes 0). A component is its leading integer (decimal, or hexadecimal after "$",
// "x" or "0x"); a value outside the 32-bit signed range is clamped to the nearer bound.
std::string CorrectVersion(const std::string& text);

// "mm/dd/yyyy" (year optional: the current one; one or two digits: the current century) as a
// date, or kBadDateText when the text is not such a date.
TDateTime DriverDateToDateTime(const std::string& text);

// A date as the user's short date text. On POSIX the format is en-US "M/d/yyyy".
std::string DateToShortDateText(TDateTime date);

// Reads the DriverVer that applies to the install section infSection (".ntamd64" decoration
// when isWow64, else ".ntx86"), resolves "Strings" tokens and splits it into date and version.
// False after a diagnostic line when the INF is missing or the entry cannot be read; date and
// version are set whenever the INF exists.
bool ExtractParamsFromInf(const std::string& infPath, const std::string& infSection,
                          TDateTime& date, std::string& version, bool isWow64);

} // namespace halyard
