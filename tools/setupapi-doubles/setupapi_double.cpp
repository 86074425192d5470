// A Setup API library for the tests: the same exports as the POSIX library, with a
// SetupVerifyInfFileW that answers what the test scripted, so that every last-error code the
// pair check knows can be produced.
#include "setupapi_double.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#define HALYARD_SETUPAPI_STUB_VERIFY_INF_FILE_W(Name)
#include "platform/posix/setupapi/stub_exports.h"

namespace {

struct Answer {
    halyard::setupapi::BOOL result = 0;
    halyard::setupapi::DWORD lastError = 0;
    std::u16string catalogFile;
    std::u16string digitalSigner;
};

std::mutex gMutex;
std::vector<Answer> gAnswers;
std::size_t gNext = 0;
std::vector<HalyardSetupApiDoubleCall> gCalls;

void CopyField(char16_t* field, std::size_t capacity, const std::u16string& text) {
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), n * sizeof(char16_t));
    field[n] = 0;
}

} // namespace

HALYARD_SETUPAPI_EXPORT void HalyardSetupApiDoubleReset() {
    std::lock_guard lock(gMutex);
    gAnswers.clear();
    gCalls.clear();
    gNext = 0;
}

HALYARD_SETUPAPI_EXPORT void
HalyardSetupApiDoubleAddAnswer(const HalyardSetupApiDoubleAnswer* answer) {
    std::lock_guard lock(gMutex);
    Answer a;
    a.result = answer->result;
    a.lastError = answer->lastError;
    if (answer->catalogFile != nullptr) {
        a.catalogFile = answer->catalogFile;
    }
    if (answer->digitalSigner != nullptr) {
        a.digitalSigner = answer->digitalSigner;
    }
    gAnswers.push_back(std::move(a));
}

HALYARD_SETUPAPI_EXPORT int HalyardSetupApiDoubleCallCount() {
    std::lock_guard lock(gMutex);
    return static_cast<int>(gCalls.size());
}

HALYARD_SETUPAPI_EXPORT bool HalyardSetupApiDoubleGetCall(int index,
                                                          HalyardSetupApiDoubleCall* call) {
    std::lock_guard lock(gMutex);
    if (index < 0 || static_cast<std::size_t>(index) >= gCalls.size()) {
        return false;
    }
    *call = gCalls[static_cast<std::size_t>(index)];
    return true;
}

HALYARD_SETUPAPI_EXPORT halyard::setupapi::BOOL
SetupVerifyInfFileW(const char16_t* InfName,
                    halyard::setupapi::SP_ALTPLATFORM_INFO_V2* AltPlatformInfo,
                    halyard::setupapi::SP_INF_SIGNER_INFO_V1_W* InfSignerInfo) {
    std::lock_guard lock(gMutex);
    HalyardSetupApiDoubleCall call{};
    CopyField(call.infName, std::size(call.infName), InfName == nullptr ? u"" : InfName);
    call.signerCbSize = InfSignerInfo == nullptr ? 0 : InfSignerInfo->cbSize;
    call.hadAltPlatform = AltPlatformInfo != nullptr;
    if (AltPlatformInfo != nullptr) {
        call.altPlatform = *AltPlatformInfo;
    }
    gCalls.push_back(call);
    if (gAnswers.empty()) {
        halyard::setupapi_posix::SetLastError(halyard::codes::kCallNotImplemented);
        return 0;
    }
    const Answer& answer = gAnswers[std::min(gNext, gAnswers.size() - 1)];
    ++gNext;
    if (InfSignerInfo != nullptr) {
        CopyField(InfSignerInfo->CatalogFile, std::size(InfSignerInfo->CatalogFile),
                  answer.catalogFile);
        CopyField(InfSignerInfo->DigitalSigner, std::size(InfSignerInfo->DigitalSigner),
                  answer.digitalSigner);
    }
    halyard::setupapi_posix::SetLastError(answer.lastError);
    return answer.result;
}
