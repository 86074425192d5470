// "/verify <folder>" run with the built program: its output lines (the exit code is always 0).
#pragma once

#include "testkit.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard::test {

inline std::vector<std::string> VerifyFolder(const std::string& folder,
                                             const std::string& workDir = {}) {
    const auto run = RunHalyard({"/verify", folder}, workDir);
    EXPECT_EQ(run.exitCode, 0);
    return run.lines;
}

} // namespace halyard::test
