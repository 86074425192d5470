#pragma once

#include <string>
#include <vector>

namespace halyard {

// Joins arguments from index `first` on with single blanks; on Windows the result is trimmed,
// on POSIX every argument is kept byte for byte.
std::string JoinArguments(const std::vector<std::string>& args, std::size_t first);

// Runs the check the arguments select and writes its verdict; never throws.
void RunFrontEnd(const std::vector<std::string>& args);

} // namespace halyard
