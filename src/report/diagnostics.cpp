#include "report/diagnostics.h"

#include "base/hex.h"
#include "base/unicode.h"
#include "platform/messages.h"
#include "report/output.h"

namespace halyard {

std::string FormatCollectedError(const std::string& func, const std::string& mess,
                                 const std::string& params, std::uint32_t lastError) {
    std::string line = func + ": " + mess + "; Params: " + params;
    if (lastError != codes::kNoCode) {
        line += "; Last error: " + Hex8(lastError) + " " + platform::SysErrorMessage(lastError);
    }
    return line;
}

void CollectError(const std::string& func, const std::string& mess, const std::string& params,
                  std::uint32_t lastError) {
    WriteLine(FormatCollectedError(func, mess, params, lastError));
}

void XLog::Error(const std::string& /*func*/, const std::string& /*mess*/,
                 const std::string& /*params*/) {}

} // namespace halyard
