// A copy of the SignTool stand-in beside a trust folder of the public roots of the real-world
// samples: the stand-in trusts the roots beside it, never the build's test roots.
#pragma once

#include "testkit.h"

#include <string>

namespace halyard::test {

// Copies the stand-in and ../shared/realworld/certs/roots into the folder; the program's path.
std::string CopyStandInWithPublicRoots(const TempDir& folder);

} // namespace halyard::test
