// The control interface of the Setup API test double: the tests script what
// SetupVerifyInfFileW answers and read back how it was called.
#pragma once

#include "platform/setupapi_types.h"

extern "C" {

// One answer of SetupVerifyInfFileW: its result, the last error it leaves, and the texts it puts
// into the signer record (null for an empty text).
struct HalyardSetupApiDoubleAnswer {
    halyard::setupapi::BOOL result;
    halyard::setupapi::DWORD lastError;
    const char16_t* catalogFile;
    const char16_t* digitalSigner;
};

// What one call received.
struct HalyardSetupApiDoubleCall {
    char16_t infName[1024];
    halyard::setupapi::DWORD signerCbSize;
    halyard::setupapi::BOOL hadAltPlatform;
    halyard::setupapi::SP_ALTPLATFORM_INFO_V2 altPlatform;
};

// Forgets the script and the recorded calls.
using THalyardSetupApiDoubleReset = void (*)();
// Appends an answer; calls take answers in order and the last one repeats. Without any answer
// the call fails with ERROR_CALL_NOT_IMPLEMENTED.
using THalyardSetupApiDoubleAddAnswer = void (*)(const HalyardSetupApiDoubleAnswer* answer);
using THalyardSetupApiDoubleCallCount = int (*)();
// Copies the record of call index; false when there is no such call.
using THalyardSetupApiDoubleGetCall = bool (*)(int index, HalyardSetupApiDoubleCall* call);
}
