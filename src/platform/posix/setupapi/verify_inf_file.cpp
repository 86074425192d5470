#include "platform/posix/setupapi/verify_inf_file.h"

#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "halyard/trust/verify.h"
#include "os/profile_section.h"
#include "platform/catalog.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/hash.h"
#include "platform/locale.h"
#include "platform/osversion.h"
#include "platform/profile.h"
#include "platform/signing_policy.h"
#include "platform/trust.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace halyard::setupapi_posix {

namespace {

std::uint32_t PackVersion(std::uint32_t major, std::uint32_t minor) {
    return (major << 16) | (minor & 0xFFFF);
}

const char* ArchitectureDecoration(std::uint16_t architecture) {
    switch (architecture) {
    case setupapi::kProcessorArchitectureIntel:
        return "x86";
    case setupapi::kProcessorArchitectureArm:
        return "arm";
    case setupapi::kProcessorArchitectureIa64:
        return "ia64";
    case setupapi::kProcessorArchitectureAmd64:
        return "amd64";
    case setupapi::kProcessorArchitectureArm64:
        return "arm64";
    default:
        return nullptr;
    }
}

} // namespace

// The private-profile service keeps what follows the value (comments) and does not resolve
// string tokens; the INF parser of the Setup API does both.
std::string CleanInfValue(const std::string& raw) {
    std::string value;
    bool quoted = false;
    for (char c : raw) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            break;
        }
        value += c;
    }
    value = Trim(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = Trim(value.substr(1, value.size() - 2));
    }
    return value;
}

namespace {

constexpr const char* kAbsent = "\x01";

// The strings of an INF's %key% tokens: the key is matched without regard to case first in
// [Strings.0409] (the English (United States) platform the emulation runs as), then in
// [Strings]; the quotes around the string are removed. Both sections are read at the first
// lookup, once each: a value may hold hundreds of tokens, and the INF megabytes.
class InfStrings {
public:
    explicit InfStrings(std::string infPath) : infPath_(std::move(infPath)) {}

    // Nothing when neither section defines the key.
    std::optional<std::string> value(const std::string& key) const {
        if (!sections_) {
            sections_.emplace();
            for (const char* section : {"Strings.0409", "Strings"}) {
                sections_->push_back(platform::ReadProfileSection(section, infPath_));
            }
        }
        for (const auto& section : *sections_) {
            if (auto text = section.value(key)) {
                return CleanInfValue(*text);
            }
        }
        return std::nullopt;
    }

private:
    std::string infPath_;
    mutable std::optional<std::vector<platform::ProfileSection>> sections_;
};

std::optional<std::string> ReadVersionKey(const std::string& infPath, const std::string& key) {
    const std::string raw = platform::GetPrivateProfileString("Version", key, kAbsent, infPath);
    if (raw == kAbsent) {
        return std::nullopt;
    }
    const InfStrings strings(infPath);
    std::string value = SubstituteInfStrings(
        CleanInfValue(raw), [&](const std::string& token) { return strings.value(token); });
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string SubstituteInfStrings(
    std::string_view value,
    const std::function<std::optional<std::string>(const std::string& key)>& lookup) {
    std::string out;
    std::size_t at = 0;
    while (at < value.size()) {
        const std::size_t open = value.find('%', at);
        const std::size_t close = open == std::string_view::npos ? open : value.find('%', open + 1);
        if (close == std::string_view::npos) {
            break; // no token left; a lone "%" stays
        }
        out.append(value, at, open - at);
        if (close == open + 1) {
            out += '%';
        } else {
            const std::string key(value.substr(open + 1, close - open - 1));
            const auto text = lookup(key);
            out += text ? *text : std::string(value.substr(open, close - open + 1));
        }
        at = close + 1;
    }
    out.append(value.substr(at));
    return out;
}

// A decorated directive wins for its platform, the undecorated one covers the rest.
std::optional<std::string> CatalogDirective(const std::string& infPath,
                                            const TargetPlatform& target) {
    std::vector<std::string> keys;
    if (target.platformId == setupapi::kVerPlatformWin32Nt) {
        if (const char* arch = ArchitectureDecoration(target.architecture)) {
            keys.push_back(std::string("CatalogFile.NT") + arch);
        }
        keys.emplace_back("CatalogFile.NT");
    }
    keys.emplace_back("CatalogFile");
    for (const auto& key : keys) {
        if (auto value = ReadVersionKey(infPath, key)) {
            return value;
        }
    }
    return std::nullopt;
}

namespace {

// The catalog in the INF's folder whose name matches, letter case ignored (Windows' file
// systems do not distinguish case; packages rely on it). A directive that is not a plain file
// name never leaves the folder.
std::optional<std::string> FindCatalog(const std::string& infDir, const std::string& name) {
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
        name == "." || name == "..") {
        return std::nullopt;
    }
    const std::string folder = platform::IncludeTrailingPathDelimiter(infDir);
    if (platform::FileExists(folder + name)) {
        return folder + name;
    }
    std::vector<std::string> files;
    try {
        files = platform::ListFiles(infDir, "*");
    } catch (const Error&) {
        return std::nullopt;
    }
    const std::string wanted = platform::LowerCase(name);
    for (const auto& file : files) {
        if (platform::LowerCase(platform::ExtractFileName(file)) == wanted) {
            return file;
        }
    }
    return std::nullopt;
}

// The INF's flat digests as member tags: SHA-256 first, SHA-1 after.
std::array<std::string, 2> FlatTags(const std::string& path) {
    platform::FileReader reader(path, platform::kMaxInfFileSize);
    platform::Digest sha256(platform::DigestAlgorithm::Sha256);
    platform::Digest sha1(platform::DigestAlgorithm::Sha1);
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (;;) {
        const std::size_t n = reader.read(buffer.data(), buffer.size());
        if (n == 0) {
            break;
        }
        sha256.update(buffer.data(), n);
        sha1.update(buffer.data(), n);
    }
    return {HexUpper(sha256.finish()), HexUpper(sha1.finish())};
}

std::optional<std::string> FindAttribute(const std::vector<platform::CatAttribute>& attributes,
                                         std::string_view name) {
    for (const auto& attribute : attributes) {
        if (EqualsIgnoreCase(attribute.referenceTag, name)) {
            return attribute.valueText();
        }
    }
    return std::nullopt;
}

bool ParseUnsigned(std::string_view text, std::uint32_t& value) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed.size() > 5) {
        return false;
    }
    value = 0;
    for (char c : trimmed) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return true;
}

} // namespace

std::optional<std::string> MatchOsAttr(const std::string& osAttr, const TargetPlatform& target) {
    std::size_t start = 0;
    while (start <= osAttr.size()) {
        const std::size_t comma = osAttr.find(',', start);
        const std::string entry = Trim(
            osAttr.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const std::size_t colon = entry.find(':');
        const std::size_t dot = entry.find('.', colon == std::string::npos ? 0 : colon);
        std::uint32_t platformId = 0, major = 0, minor = 0;
        if (colon != std::string::npos && dot != std::string::npos &&
            ParseUnsigned(std::string_view(entry).substr(0, colon), platformId) &&
            ParseUnsigned(std::string_view(entry).substr(colon + 1, dot - colon - 1), major) &&
            ParseUnsigned(std::string_view(entry).substr(dot + 1), minor) &&
            platformId == target.platformId) {
            const std::uint32_t version = PackVersion(major, minor);
            if (version >= target.lowVersion && version <= target.highVersion) {
                return std::to_string(major) + "." + std::to_string(minor);
            }
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return std::nullopt;
}

TargetPlatform RunningPlatform() {
    const platform::OsVersion os = platform::GetOsVersion();
    TargetPlatform target;
    target.platformId = os.platformId;
    target.architecture = setupapi::kProcessorArchitectureAmd64;
    target.lowVersion = target.highVersion = PackVersion(os.major, os.minor);
    return target;
}

TargetPlatform AlternatePlatform(const setupapi::SP_ALTPLATFORM_INFO_V2& record, bool v2) {
    TargetPlatform target;
    target.platformId = record.Platform;
    target.architecture = record.ProcessorArchitecture;
    std::uint32_t version = PackVersion(record.MajorVersion, record.MinorVersion);
    if (version == 0) {
        version = RunningPlatform().highVersion;
    }
    target.highVersion = version;
    target.lowVersion = version;
    if (v2) {
        target.lowVersion =
            PackVersion(record.FirstValidatedMajorVersion, record.FirstValidatedMinorVersion);
        if (target.lowVersion > target.highVersion) {
            target.lowVersion = target.highVersion;
        }
    }
    return target;
}

InfVerification VerifyInfFile(const std::string& infPath, const TargetPlatform& target) {
    InfVerification out;
    if (!platform::FileExists(infPath)) {
        const std::string dir = platform::ExtractFileDir(infPath);
        out.code = dir.empty() || platform::DirectoryExists(dir) ? codes::kFileNotFound
                                                                 : codes::kPathNotFound;
        return out;
    }
    // An INF that is no regular file or is too large is refused before it is read at all.
    if (const std::uint32_t refused =
            platform::ProbeInputFile(infPath, platform::kMaxInfFileSize)) {
        out.code = refused;
        return out;
    }

    const auto directive = CatalogDirective(infPath, target);
    if (!directive) {
        out.code = codes::kErrorNoCatalogForOemInf;
        return out;
    }
    const std::string dir = platform::ExtractFileDir(infPath);
    const std::string infDir = dir.empty() ? std::string(".") : dir;
    const auto catalogPath = FindCatalog(infDir, *directive);
    if (!catalogPath) {
        out.code = codes::kCryptEFileError;
        return out;
    }
    const std::string catalogFull = platform::ExpandFileName(*catalogPath);

    const auto store = platform::CryptCATOpen(catalogFull, 0);
    if (!store) {
        // The catalog is verified through the trust service, whose code the Setup API returns.
        out.code = trust::CatalogFileFailureCode(store.error());
        return out;
    }

    const auto tags = FlatTags(infPath);
    const platform::CatMember* member = nullptr;
    std::string tag;
    for (const auto& candidate : tags) {
        if ((member = platform::FindCatalogMember(**store, candidate)) != nullptr) {
            tag = candidate;
            break;
        }
    }
    if (member == nullptr) {
        out.code = codes::kTrustENoSignature;
        return out;
    }
    out.catalogFile = catalogFull;

    const platform::CatalogSignatureReport report = platform::VerifyCatalogSignature(catalogFull);
    if (!report.signingChain.empty()) {
        out.digitalSigner = report.signingChain.back().issuedTo;
    }
    const std::uint32_t trust = platform::WinVerifyTrustCatalogMember(
        platform::CatalogMemberTrustRequest{catalogFull, tag, infPath});
    if (trust != 0) {
        out.code = trust;
        return out;
    }

    // A member's own OSAttr speaks for it; the catalog's covers the rest. A catalog without one
    // restricts nothing (vendor catalogs carry none).
    auto osAttr = FindAttribute(member->attributes, "OSAttr");
    if (!osAttr) {
        osAttr = FindAttribute((*store)->catalogAttributes, "OSAttr");
    }
    if (osAttr) {
        const auto matched = MatchOsAttr(*osAttr, target);
        if (!matched) {
            out.code = codes::kErrorSignatureOsattributeMismatch;
            return out;
        }
        out.signerVersion = *matched;
    }

    if (platform::IsDriverPolicySigner(out.digitalSigner)) {
        out.signerScore = out.digitalSigner == "Microsoft Windows" ? setupapi::kSignerScoreInbox
                                                                   : setupapi::kSignerScoreWhql;
        out.code = 0;
    } else {
        out.signerScore = setupapi::kSignerScoreAuthenticode;
        out.code = codes::kErrorAuthenticodeTrustNotEstablished;
    }
    return out;
}

} // namespace halyard::setupapi_posix
