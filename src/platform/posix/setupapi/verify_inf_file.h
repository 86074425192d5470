// SetupVerifyInfFileW on our trust layer: the INF's catalog directive, the catalog beside the INF,
// the INF's flat digest as a member, the catalog's signature and chain, its OS attribute against
// the platform, and the driver signing policy.
#pragma once

#include "platform/setupapi_types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace halyard::setupapi_posix {

// The platform an INF is verified for, with the OS version range its catalog's OSAttr must
// reach: an entry "Platform:Major.Minor" passes when Platform matches and the version lies in
// [low, high] (versions as (major << 16) | minor).
struct TargetPlatform {
    std::uint32_t platformId = setupapi::kVerPlatformWin32Nt;
    std::uint16_t architecture = setupapi::kProcessorArchitectureAmd64;
    std::uint32_t lowVersion = 0;
    std::uint32_t highVersion = 0;
};

// The running platform: amd64 and the version the platform layer reports, exactly.
TargetPlatform RunningPlatform();

// The platform of an alternate-platform record (the first version's fields, and the second's
// when v2 is true). A record with version 0.0 names no version: the running version stands in.
// The second version's first-validated fields lower the range; 0.0 there admits every earlier
// release, as Microsoft documents them; the first version checks its one version only.
TargetPlatform AlternatePlatform(const setupapi::SP_ALTPLATFORM_INFO_V2& record, bool v2);

struct InfVerification {
    std::uint32_t code = 0;    // 0, or the last-error code SetupVerifyInfFileW leaves
    std::string catalogFile;   // full path of the catalog, once it was found
    std::string digitalSigner; // the catalog signer's simple display name, once known
    std::string signerVersion; // "Major.Minor" of the OSAttr entry that matched
    std::uint32_t signerScore = setupapi::kSignerScoreUnsigned;
};

// The INF parser's reading of a [Version] value that the private-profile service returned: an
// inline comment (";" outside quotes) is dropped, blanks trimmed, quotes around the whole value
// removed.
std::string CleanInfValue(const std::string& raw);

// The Setup API's string substitution, applied to every value it reads from an INF: "%%" is a
// literal "%"; "%key%" is replaced by the key's string (lookup), and a key lookup does not know
// stays as written, percent signs and all, as does a "%" without a partner. What a key is
// replaced by is not scanned again.
std::string SubstituteInfStrings(
    std::string_view value,
    const std::function<std::optional<std::string>(const std::string& key)>& lookup);

// The catalog file name the INF names for the platform (CatalogFile.NT<arch>, CatalogFile.NT,
// CatalogFile, in this order; the value cleaned, then its %key% tokens substituted as above, each
// key matched without regard to case first in [Strings.0409] (the English (United States)
// platform the emulation runs as), then in [Strings], the quotes around its string removed).
// Nothing when the INF has no directive for the platform, or one that comes out empty.
std::optional<std::string> CatalogDirective(const std::string& infPath,
                                            const TargetPlatform& target);

// The first entry of an OSAttr value ("2:6.1,2:10.0") that lies in the target's range, as
// "Major.Minor"; nothing when none does. Malformed entries cover nothing.
std::optional<std::string> MatchOsAttr(const std::string& osAttr, const TargetPlatform& target);

// Checks one INF (UTF-8 path) for the target platform. Unexpected failures throw.
InfVerification VerifyInfFile(const std::string& infPath, const TargetPlatform& target);

} // namespace halyard::setupapi_posix
