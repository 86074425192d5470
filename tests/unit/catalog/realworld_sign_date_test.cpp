// The catalog signing date read from real catalogs of 2015 and 2024.
#include "base/date_text.h"
#include "catalog/sign_date.h"
#include "report/output.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

TEST(SignDateRealworld, RealCatalogs) {
    HALYARD_NEED_REALWORLD();
    OutputCapture capture;
    EXPECT_EQ(GetSignDateOfCAT(test::RealworldDir() +
                               "packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat"),
              ConvertStringToDateTime("07-01-2015 10-13-59", false));
    const std::string recent =
        test::RealworldDir() + "packages/tidepool-ftdiport-2024/ftdiport.cat";
    EXPECT_EQ(GetSignDateOfCAT(recent), 0);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0],
              "GetSignDateOfCAT: Wrong result: 9/24/2024 9:00:13 AM; Params: " + recent);
}

} // namespace
} // namespace halyard
