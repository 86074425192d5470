// Tests that reach the engine through the platform's trust services (CryptCATOpen,
// WinVerifyTrust, CryptQueryObject, the SIP functions, the catalog checks above them): on POSIX
// those forward to the engine, on Windows they are wintrust's, so there such a test skips. The
// engine's own answers beside wintrust's are compared in unit/trust/win32.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define HALYARD_ENGINE_THROUGH_THE_SEAM()                                                          \
    GTEST_SKIP() << "on Windows the platform's trust services are wintrust's, not the engine"
#else
#define HALYARD_ENGINE_THROUGH_THE_SEAM() static_cast<void>(0)
#endif
