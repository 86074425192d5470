// Diagnostic lines of the services: "Func: Mess; Params: P[; Last error: XXXXXXXX text]".
#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <string>

namespace halyard {

// Writes one diagnostic line at once. kNoCode leaves the error part out.
void CollectError(const std::string& func, const std::string& mess, const std::string& params,
                  std::uint32_t lastError);

// The line CollectError writes (for tests and for callers that need the text).
std::string FormatCollectedError(const std::string& func, const std::string& mess,
                                 const std::string& params, std::uint32_t lastError);

// The supported-OS derivation's hook: its reports are dropped.
class XLog {
public:
    static void Error(const std::string& func, const std::string& mess, const std::string& params);
};

} // namespace halyard
