#include "platform/ctl.h"

#include "catalog_internal.h"

#include <openssl/evp.h>
#include <string_view>
#include <vector>

namespace halyard::trust {

namespace {

bool ReadCtl(std::span<const std::uint8_t> bytes, CtlQueryResult& result) {
    const auto env = catalog_detail::ParseEnvelope(bytes);
    const auto parts = env ? catalog_detail::ParseCtl(bytes, env->ctl)
                           : Outcome<catalog_detail::CtlParts>::failure(env.error());
    if (!parts) {
        return false;
    }
    result.contentType = platform::kCertQueryContentCtl;
    result.thisUpdate = parts->thisUpdate;
    return true;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

// Base64 text (blanks and line breaks anywhere, an optional "-----BEGIN ...-----" header and
// footer) to bytes; false when the text is not Base64.
bool DecodeBase64(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const auto begin = text.find("-----BEGIN");
    if (begin != std::string_view::npos) {
        const auto headerEnd = text.find("-----", begin + 10);
        if (headerEnd == std::string_view::npos) {
            return false;
        }
        text = text.substr(headerEnd + 5);
        const auto footer = text.find("-----END");
        if (footer == std::string_view::npos) {
            return false;
        }
        text = text.substr(0, footer);
    }
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        if (!IsBase64Char(c)) {
            return false;
        }
        clean.push_back(c);
    }
    if (clean.empty() || clean.size() % 4 != 0 || clean.size() > (1u << 30)) {
        return false;
    }
    std::size_t padding = 0;
    while (padding < 2 && clean[clean.size() - 1 - padding] == '=') {
        ++padding;
    }
    if (clean.find('=') < clean.size() - padding) {
        return false;
    }
    out.resize(clean.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
    if (n < 0 || static_cast<std::size_t>(n) < padding) {
        return false;
    }
    out.resize(static_cast<std::size_t>(n) - padding);
    return true;
}

} // namespace

Outcome<CtlQueryResult> QueryCtlBytes(std::span<const std::uint8_t> bytes) {
    CtlQueryResult result;
    if (bytes.size() <= kMaxCatalogFileSize && ReadCtl(bytes, result)) {
        return result;
    }
    std::vector<std::uint8_t> decoded;
    if (bytes.size() <= kMaxCatalogFileSize && DecodeBase64(bytes, decoded) &&
        ReadCtl(decoded, result)) {
        return result;
    }
    return Outcome<CtlQueryResult>::failure(codes::kCryptENoMatch);
}

Outcome<TrustList> ParseTrustList(std::span<const std::uint8_t> bytes) {
    const auto env = catalog_detail::ParseEnvelope(bytes);
    if (!env) {
        return Outcome<TrustList>::failure(env.error());
    }
    const auto parts = catalog_detail::ParseCtl(bytes, env->ctl);
    if (!parts) {
        return Outcome<TrustList>::failure(parts.error());
    }
    const auto copy = [](std::span<const std::uint8_t> span) {
        return std::vector<std::uint8_t>(span.begin(), span.end());
    };
    const auto at = [&](const ByteSpan& span) { return bytes.subspan(span.offset, span.size); };
    TrustList list;
    list.usage = parts->usage;
    list.thisUpdate = parts->thisUpdate;
    for (const auto& entry : parts->entries) {
        TrustList::Entry out;
        out.identifier = copy(der::Contents(bytes, entry.identifier));
        for (const auto& attribute : entry.attributes) {
            TrustList::Attribute& added = out.attributes.emplace_back();
            added.oid = attribute.oid;
            for (const auto& value : attribute.values) {
                added.values.push_back(copy(der::Contents(bytes, value)));
            }
        }
        list.entries.push_back(std::move(out));
    }
    for (const ByteSpan& certificate : env->certificates) {
        list.certificates.push_back(copy(at(certificate)));
    }
    if (!env->signerInfos.empty()) {
        list.signerInfo = copy(at(env->signerInfos.front().der));
    }
    list.signedContent = copy(at(env->ctlContent));
    return list;
}

} // namespace halyard::trust
