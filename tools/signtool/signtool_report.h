// SignTool's console texts: every text line ends in CR CR LF (SignTool's "\r\n" through the
// C runtime's text mode), except "Verifying: ...", "The signature is timestamped: ..." and the
// blank lines, which end in CR LF. Texts go out in UTF-8, the encoding of a POSIX console program.
#pragma once

#include "platform/trust.h"

#include <cstdint>
#include <string>
#include <vector>

namespace signtool {

class Console {
public:
    void text(const std::string& line);  // CR CR LF
    void plain(const std::string& line); // CR LF
    void blank();
    void error(const std::string& line); // standard error, CR CR LF

private:
    void put(int fd, const std::string& bytes);
};

// "Sun Jun 24 01:34:01 2035" in local time, as SignTool prints dates.
std::string FormatDate(std::int64_t secondsSince1970);

// One block per certificate, root first, indented 4 more blanks per level, each followed by a
// blank line.
void PrintChain(Console& out, const std::vector<halyard::platform::CertificateSummary>& chain);

// "SignTool Error: WinVerifyTrust returned error: 0x........" and the code's message text.
void PrintTrustError(Console& out, std::uint32_t code);

} // namespace signtool
