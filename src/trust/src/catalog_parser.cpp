#include "base/hex.h"
#include "base/unicode.h"
#include "catalog_internal.h"
#include "file_access.h"
#include "halyard/trust/parse.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/stamped_cache.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace halyard::trust {

namespace {

using der::Cursor;
using der::Element;
using der::kContext;
using der::kUniversal;

// Entries, attributes and values a CTL may hold in all. Real catalogs hold thousands; the cap
// keeps a small hostile file from making the reader build a huge member list.
constexpr std::size_t kMaxCtlElements = 2'000'000;

std::uint32_t FaultCode(const Cursor& cursor) {
    return cursor.fault() == der::Fault::EndOfData ? codes::kCryptEAsn1Eod
                                                   : codes::kCryptEAsn1Badtag;
}

ByteSpan SpanOf(const Element& e) {
    return ByteSpan{e.offset, e.totalSize()};
}

// The unsigned attributes [1] of a SignerInfo: where the time stamps sit.
std::uint32_t ReadUnsignedAttributes(std::span<const std::uint8_t> data, const Element& set,
                                     ParsedSignerInfo& signer) {
    Cursor attrs(data, set);
    Element attr;
    while (attrs.next(attr)) {
        if (!attr.is(kUniversal, der::kTagSequence)) {
            return codes::kCryptEAsn1Badtag;
        }
        Cursor inner(data, attr);
        Element oid, values, first;
        if (!inner.expect(kUniversal, der::kTagOid, oid) ||
            !inner.expect(kUniversal, der::kTagSet, values)) {
            return FaultCode(inner);
        }
        const auto type = der::OidText(data, oid);
        if (!type) {
            return codes::kCryptEAsn1Badtag;
        }
        Cursor valueCursor(data, values);
        if (!valueCursor.next(first)) {
            if (valueCursor.fault() != der::Fault::None) {
                return FaultCode(valueCursor);
            }
            continue;
        }
        if (*type == kOidCounterSignature && signer.legacyCounterSignature.empty()) {
            signer.legacyCounterSignature = SpanOf(first);
        } else if (*type == kOidRfc3161TimeStamp && signer.rfc3161TimeStamp.empty()) {
            signer.rfc3161TimeStamp = SpanOf(first);
        }
    }
    return attrs.fault() == der::Fault::None ? 0 : FaultCode(attrs);
}

std::uint32_t ReadSignerInfo(std::span<const std::uint8_t> data, const Element& si,
                             ParsedSignerInfo& signer) {
    signer.der = SpanOf(si);
    Cursor fields(data, si);
    Element field;
    while (fields.next(field)) {
        if (field.is(kContext, 1) && field.constructed) {
            return ReadUnsignedAttributes(data, field, signer);
        }
    }
    return fields.fault() == der::Fault::None ? 0 : FaultCode(fields);
}

} // namespace

namespace catalog_detail {
namespace {

std::uint32_t ReadEnvelope(std::span<const std::uint8_t> data, Envelope& env) {
    Cursor top(data);
    Element contentInfo;
    if (!top.expect(kUniversal, der::kTagSequence, contentInfo)) {
        return FaultCode(top);
    }
    env.size = contentInfo.totalSize();
    Cursor ci(data, contentInfo);
    Element type, explicitContent, signedData;
    if (!ci.expect(kUniversal, der::kTagOid, type)) {
        return FaultCode(ci);
    }
    const auto typeText = der::OidText(data, type);
    if (!typeText) {
        return codes::kCryptEAsn1Badtag;
    }
    if (*typeText != kOidSignedData) {
        return codes::kCryptEInvalidMsgType;
    }
    if (!ci.expect(kContext, 0, explicitContent) || !explicitContent.constructed) {
        return ci.fault() == der::Fault::EndOfData ? codes::kCryptEAsn1Eod
                                                   : codes::kCryptEAsn1Badtag;
    }
    Cursor wrapper(data, explicitContent);
    if (!wrapper.expect(kUniversal, der::kTagSequence, signedData)) {
        return FaultCode(wrapper);
    }

    Cursor sd(data, signedData);
    Element version, digestAlgorithms, encap;
    if (!sd.expect(kUniversal, der::kTagInteger, version) ||
        !sd.expect(kUniversal, der::kTagSet, digestAlgorithms) ||
        !sd.expect(kUniversal, der::kTagSequence, encap)) {
        return FaultCode(sd);
    }

    Cursor eci(data, encap);
    Element innerType, innerExplicit, content;
    if (!eci.expect(kUniversal, der::kTagOid, innerType)) {
        return FaultCode(eci);
    }
    const auto innerText = der::OidText(data, innerType);
    if (!innerText) {
        return codes::kCryptEAsn1Badtag;
    }
    if (*innerText != kOidCtl) {
        return codes::kCryptEUnexpectedMsgType;
    }
    if (!eci.next(innerExplicit)) {
        // A CTL message without its list (detached content) holds nothing to read.
        return eci.fault() == der::Fault::None ? codes::kCryptEUnexpectedMsgType : FaultCode(eci);
    }
    if (!innerExplicit.is(kContext, 0) || !innerExplicit.constructed) {
        return codes::kCryptEAsn1Badtag;
    }
    Cursor contentCursor(data, innerExplicit);
    if (!contentCursor.next(content)) {
        return contentCursor.fault() == der::Fault::None ? codes::kCryptEAsn1Eod
                                                         : FaultCode(contentCursor);
    }
    if (content.is(kUniversal, der::kTagSequence) && content.constructed) {
        // PKCS #7 form (what Windows writes): the digest covers the list's contents octets.
        env.ctl = content;
        env.ctlContent = ByteSpan{content.contentOffset, content.contentSize};
    } else if (content.is(kUniversal, der::kTagOctetString) && !content.constructed) {
        // CMS form: the list inside an OCTET STRING, whose contents the digest covers.
        Cursor octets(data, content);
        Element list;
        if (!octets.expect(kUniversal, der::kTagSequence, list)) {
            return FaultCode(octets);
        }
        if (list.end() != content.end()) {
            return codes::kCryptEAsn1Badtag;
        }
        env.ctl = list;
        env.ctlContent = ByteSpan{content.contentOffset, content.contentSize};
    } else {
        return codes::kCryptEAsn1Badtag;
    }

    Element field;
    bool sawSigners = false;
    while (sd.next(field)) {
        if (field.is(kContext, 0) && field.constructed) {
            Cursor certs(data, field);
            Element cert;
            while (certs.next(cert)) {
                if (cert.is(kUniversal, der::kTagSequence) && cert.constructed) {
                    env.certificates.push_back(SpanOf(cert));
                }
            }
            if (certs.fault() != der::Fault::None) {
                return FaultCode(certs);
            }
        } else if (field.is(kContext, 1)) {
            continue; // revocation lists: the trust layer reads them from der if it wants them
        } else if (field.is(kUniversal, der::kTagSet) && field.constructed && !sawSigners) {
            sawSigners = true;
            Cursor signers(data, field);
            Element si;
            while (signers.next(si)) {
                if (!si.is(kUniversal, der::kTagSequence) || !si.constructed) {
                    return codes::kCryptEAsn1Badtag;
                }
                ParsedSignerInfo signer;
                if (const auto code = ReadSignerInfo(data, si, signer)) {
                    return code;
                }
                env.signerInfos.push_back(signer);
            }
            if (signers.fault() != der::Fault::None) {
                return FaultCode(signers);
            }
        } else {
            return codes::kCryptEAsn1Badtag;
        }
    }
    if (sd.fault() != der::Fault::None) {
        return FaultCode(sd);
    }
    return sawSigners ? 0 : codes::kCryptEAsn1Eod;
}

std::uint32_t ReadCtl(std::span<const std::uint8_t> data, const Element& ctl, CtlParts& parts,
                      const std::string_view* onlyTag) {
    std::size_t budget = 0;
    Cursor c(data, ctl);
    Element e;
    if (c.peek(e) && e.is(kUniversal, der::kTagInteger)) {
        c.next(e);
    }
    Element usage;
    if (!c.expect(kUniversal, der::kTagSequence, usage)) {
        return FaultCode(c);
    }
    Cursor usages(data, usage);
    Element oid;
    while (usages.next(oid)) {
        const auto text = der::OidText(data, oid);
        if (!text) {
            return codes::kCryptEAsn1Badtag;
        }
        parts.usage.push_back(*text);
    }
    if (usages.fault() != der::Fault::None) {
        return FaultCode(usages);
    }
    // Optional list identifier and sequence number.
    if (c.peek(e) && e.is(kUniversal, der::kTagOctetString)) {
        c.next(e);
    }
    if (c.peek(e) && e.is(kUniversal, der::kTagInteger)) {
        c.next(e);
    }
    if (!c.next(e)) {
        return c.fault() == der::Fault::None ? codes::kCryptEAsn1Eod : FaultCode(c);
    }
    const auto thisUpdate = der::TimeValue(data, e);
    if (!thisUpdate) {
        return codes::kCryptEAsn1Badtag;
    }
    parts.thisUpdate = *thisUpdate;
    if (c.peek(e) && e.cls == kUniversal &&
        (e.tag == der::kTagUtcTime || e.tag == der::kTagGeneralizedTime)) {
        c.next(e);
        parts.nextUpdate = der::TimeValue(data, e);
        if (!parts.nextUpdate) {
            return codes::kCryptEAsn1Badtag;
        }
    }
    Element algorithm;
    if (!c.expect(kUniversal, der::kTagSequence, algorithm)) {
        return FaultCode(c);
    }
    Cursor alg(data, algorithm);
    if (!alg.expect(kUniversal, der::kTagOid, oid)) {
        return FaultCode(alg);
    }
    const auto algText = der::OidText(data, oid);
    if (!algText) {
        return codes::kCryptEAsn1Badtag;
    }
    parts.subjectAlgorithm = *algText;

    const bool version2 = parts.subjectAlgorithm == kOidCatalogListMember2;
    // The bytes a v2 member's identifier must hold to carry the tag (none when it is not hex).
    std::optional<std::vector<std::uint8_t>> wantedId;
    if (onlyTag != nullptr && version2) {
        wantedId = BytesOfHexUpper(AsciiUpper(*onlyTag));
    }
    if (c.peek(e) && e.is(kUniversal, der::kTagSequence) && e.constructed) {
        c.next(e);
        Cursor subjects(data, e);
        Element subject;
        while (subjects.next(subject)) {
            if (!subject.is(kUniversal, der::kTagSequence) || !subject.constructed) {
                return codes::kCryptEAsn1Badtag;
            }
            Cursor fields(data, subject);
            CtlEntry entry;
            if (!fields.expect(kUniversal, der::kTagOctetString, entry.identifier) ||
                entry.identifier.constructed) {
                return fields.fault() == der::Fault::None ? codes::kCryptEAsn1Badtag
                                                          : FaultCode(fields);
            }
            if (onlyTag != nullptr) {
                // A v2 tag is the identifier in hex: bytes are compared, no text is made.
                const bool matches =
                    version2
                        ? wantedId &&
                              std::ranges::equal(der::Contents(data, entry.identifier), *wantedId)
                        : EqualsIgnoreCase(MemberTagOf(data, false, entry.identifier), *onlyTag);
                if (!matches) {
                    continue;
                }
            }
            Element attrSet;
            if (fields.next(attrSet)) {
                if (!attrSet.is(kUniversal, der::kTagSet) || !attrSet.constructed) {
                    return codes::kCryptEAsn1Badtag;
                }
                Cursor attrs(data, attrSet);
                Element attr;
                while (attrs.next(attr)) {
                    if (!attr.is(kUniversal, der::kTagSequence) || !attr.constructed) {
                        return codes::kCryptEAsn1Badtag;
                    }
                    Cursor inner(data, attr);
                    Element type, values;
                    if (!inner.expect(kUniversal, der::kTagOid, type) ||
                        !inner.expect(kUniversal, der::kTagSet, values)) {
                        return FaultCode(inner);
                    }
                    CtlAttribute parsed;
                    const auto typeText = der::OidText(data, type);
                    if (!typeText) {
                        return codes::kCryptEAsn1Badtag;
                    }
                    parsed.oid = *typeText;
                    Cursor valueCursor(data, values);
                    Element value;
                    while (valueCursor.next(value)) {
                        if (++budget > kMaxCtlElements) {
                            return codes::kNotEnoughMemory;
                        }
                        parsed.values.push_back(value);
                    }
                    if (valueCursor.fault() != der::Fault::None) {
                        return FaultCode(valueCursor);
                    }
                    entry.attributes.push_back(std::move(parsed));
                }
                if (attrs.fault() != der::Fault::None) {
                    return FaultCode(attrs);
                }
            } else if (fields.fault() != der::Fault::None) {
                return FaultCode(fields);
            }
            budget += 1 + entry.attributes.size();
            if (budget > kMaxCtlElements) {
                return codes::kNotEnoughMemory;
            }
            parts.entries.push_back(std::move(entry));
        }
        if (subjects.fault() != der::Fault::None) {
            return FaultCode(subjects);
        }
    }
    if (c.peek(e) && e.is(kContext, 0) && e.constructed) {
        c.next(e);
        Cursor wrapper(data, e);
        Element list;
        if (!wrapper.expect(kUniversal, der::kTagSequence, list)) {
            return FaultCode(wrapper);
        }
        Cursor extensions(data, list);
        Element ext;
        while (extensions.next(ext)) {
            if (!ext.is(kUniversal, der::kTagSequence) || !ext.constructed) {
                return codes::kCryptEAsn1Badtag;
            }
            Cursor fields(data, ext);
            Element extOid, value;
            if (!fields.expect(kUniversal, der::kTagOid, extOid)) {
                return FaultCode(fields);
            }
            if (fields.peek(value) && value.is(kUniversal, der::kTagBoolean)) {
                fields.next(value);
            }
            if (!fields.expect(kUniversal, der::kTagOctetString, value) || value.constructed) {
                return fields.fault() == der::Fault::None ? codes::kCryptEAsn1Badtag
                                                          : FaultCode(fields);
            }
            const auto extText = der::OidText(data, extOid);
            if (!extText) {
                return codes::kCryptEAsn1Badtag;
            }
            if (++budget > kMaxCtlElements) {
                return codes::kNotEnoughMemory;
            }
            parts.extensions.push_back(CtlExtension{*extText, value});
        }
        if (extensions.fault() != der::Fault::None) {
            return FaultCode(extensions);
        }
    }
    return c.fault() == der::Fault::None ? 0 : FaultCode(c);
}

} // namespace

Outcome<Envelope> ParseEnvelope(std::span<const std::uint8_t> data) {
    Envelope env;
    if (const std::uint32_t code = ReadEnvelope(data, env)) {
        return Outcome<Envelope>::failure(code);
    }
    return env;
}

std::string MemberTagOf(std::span<const std::uint8_t> data, bool version2,
                        const Element& identifier) {
    const auto id = der::Contents(data, identifier);
    return version2 ? HexUpper(id) : Utf16LeBytesToUtf8(id, true);
}

Outcome<CtlParts> ParseCtl(std::span<const std::uint8_t> data, const Element& ctl,
                           const std::string_view* onlyTag) {
    CtlParts parts;
    if (const std::uint32_t code = ReadCtl(data, ctl, parts, onlyTag)) {
        return Outcome<CtlParts>::failure(code);
    }
    return parts;
}

} // namespace catalog_detail

namespace {

using catalog_detail::CtlParts;
using catalog_detail::Envelope;

// CAT_NAMEVALUE ::= SEQUENCE { tag BMPString, flags INTEGER, value OCTET STRING }
std::uint32_t ReadNameValue(std::span<const std::uint8_t> data, Cursor& level, CatAttribute& out) {
    Element seq;
    if (!level.expect(kUniversal, der::kTagSequence, seq)) {
        return FaultCode(level);
    }
    Cursor fields(data, seq);
    Element name, flags, value;
    if (!fields.expect(kUniversal, der::kTagBmpString, name) ||
        !fields.expect(kUniversal, der::kTagInteger, flags) ||
        !fields.expect(kUniversal, der::kTagOctetString, value)) {
        return FaultCode(fields);
    }
    const auto nameText = der::BmpText(data, name);
    const auto flagValue = der::Uint32Value(data, flags);
    if (!nameText || !flagValue || value.constructed) {
        return codes::kCryptEAsn1Badtag;
    }
    out.referenceTag = *nameText;
    out.attrTypeAndAction = *flagValue;
    const auto bytes = der::Contents(data, value);
    out.value.assign(bytes.begin(), bytes.end());
    return 0;
}

// SpcIndirectDataContent ::= SEQUENCE { data SEQUENCE { type OID, value ANY OPTIONAL },
//                                       messageDigest SEQUENCE { AlgorithmIdentifier, OCTET STRING
//                                       } }
std::uint32_t ReadIndirectData(std::span<const std::uint8_t> data, const Element& value,
                               CatMember& member) {
    if (!value.is(kUniversal, der::kTagSequence) || !value.constructed) {
        return codes::kCryptEAsn1Badtag;
    }
    Cursor content(data, value);
    Element attributeTypeAndValue, digestInfo, type, algorithm, algOid, digest;
    if (!content.expect(kUniversal, der::kTagSequence, attributeTypeAndValue) ||
        !content.expect(kUniversal, der::kTagSequence, digestInfo)) {
        return FaultCode(content);
    }
    Cursor typeCursor(data, attributeTypeAndValue);
    if (!typeCursor.expect(kUniversal, der::kTagOid, type)) {
        return FaultCode(typeCursor);
    }
    Cursor digestCursor(data, digestInfo);
    if (!digestCursor.expect(kUniversal, der::kTagSequence, algorithm) ||
        !digestCursor.expect(kUniversal, der::kTagOctetString, digest) || digest.constructed) {
        return digestCursor.fault() == der::Fault::None ? codes::kCryptEAsn1Badtag
                                                        : FaultCode(digestCursor);
    }
    Cursor algCursor(data, algorithm);
    if (!algCursor.expect(kUniversal, der::kTagOid, algOid)) {
        return FaultCode(algCursor);
    }
    const auto typeText = der::OidText(data, type);
    const auto algText = der::OidText(data, algOid);
    if (!typeText || !algText) {
        return codes::kCryptEAsn1Badtag;
    }
    member.indirectDataTypeOid = *typeText;
    member.digestAlgorithmOid = *algText;
    const auto bytes = der::Contents(data, digest);
    member.digest.assign(bytes.begin(), bytes.end());
    return 0;
}

std::uint32_t BuildMember(std::span<const std::uint8_t> data, int version,
                          const catalog_detail::CtlEntry& entry, CatMember& member) {
    member.referenceTag = catalog_detail::MemberTagOf(data, version == 2, entry.identifier);
    bool sawIndirectData = false;
    for (const auto& attr : entry.attributes) {
        if (attr.oid == kOidCatNameValue) {
            for (const auto& value : attr.values) {
                Cursor one(data, Element{value.offset, 0, value.offset, value.totalSize()});
                CatAttribute parsed;
                if (const auto code = ReadNameValue(data, one, parsed)) {
                    return code;
                }
                member.attributes.push_back(std::move(parsed));
            }
        } else if (attr.oid == kOidSpcIndirectData) {
            if (!attr.values.empty() && !sawIndirectData) {
                if (const auto code = ReadIndirectData(data, attr.values.front(), member)) {
                    return code;
                }
                sawIndirectData = true;
            }
        } else if (attr.oid == kOidCatMemberInfo || attr.oid == kOidCatMemberInfo2) {
            // Member information describes the entry itself; Windows does not enumerate it.
            continue;
        } else {
            for (const auto& value : attr.values) {
                CatAttribute raw;
                raw.referenceTag = attr.oid;
                const auto bytes = der::Whole(data, value);
                raw.value.assign(bytes.begin(), bytes.end());
                member.attributes.push_back(std::move(raw));
            }
        }
    }
    return 0;
}

} // namespace

namespace {

// Every member, or (with onlyTag) those whose tag equals it without regard to case.
Outcome<std::shared_ptr<ParsedCatalog>> ParseCatalog(std::span<const std::uint8_t> bytes,
                                                     const std::string_view* onlyTag = nullptr) {
    using Result = Outcome<std::shared_ptr<ParsedCatalog>>;
    if (bytes.size() > kMaxCatalogFileSize) {
        return Result::failure(codes::kNotEnoughMemory);
    }
    auto env = catalog_detail::ParseEnvelope(bytes);
    if (!env) {
        return Result::failure(env.error());
    }
    const auto ctl = catalog_detail::ParseCtl(bytes, env->ctl, onlyTag);
    if (!ctl) {
        return Result::failure(ctl.error());
    }
    const CtlParts& parts = *ctl;
    if (std::find(parts.usage.begin(), parts.usage.end(), kOidCatalogList) == parts.usage.end()) {
        return Result::failure(codes::kCryptEUnexpectedMsgType);
    }

    auto catalog = std::make_shared<ParsedCatalog>();
    catalog->thisUpdate = parts.thisUpdate;
    catalog->subjectAlgorithmOid = parts.subjectAlgorithm;
    catalog->version = parts.subjectAlgorithm == kOidCatalogListMember2  ? 2
                       : parts.subjectAlgorithm == kOidCatalogListMember ? 1
                                                                         : 0;
    if (onlyTag == nullptr) {
        // A member-only parse serves lookups against a verdict on record: it carries no signed
        // bytes (a copy of a large catalog would cost more than the lookup).
        catalog->der.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(env->size));
    }
    catalog->ctl = SpanOf(env->ctl);
    catalog->ctlContent = env->ctlContent;
    catalog->certificates = std::move(env->certificates);
    catalog->signerInfos = std::move(env->signerInfos);

    for (const auto& ext : parts.extensions) {
        CatAttribute attr;
        if (ext.oid == kOidCatNameValue) {
            Cursor inner(bytes, ext.value);
            if (const auto code = ReadNameValue(bytes, inner, attr)) {
                return Result::failure(code);
            }
        } else {
            attr.referenceTag = ext.oid;
            const auto value = der::Contents(bytes, ext.value);
            attr.value.assign(value.begin(), value.end());
        }
        catalog->store.catalogAttributes.push_back(std::move(attr));
    }
    catalog->store.members.reserve(parts.entries.size());
    for (const auto& entry : parts.entries) {
        if (onlyTag != nullptr &&
            !EqualsIgnoreCase(
                catalog_detail::MemberTagOf(bytes, catalog->version == 2, entry.identifier),
                *onlyTag)) {
            continue;
        }
        CatMember member;
        if (const auto code = BuildMember(bytes, catalog->version, entry, member)) {
            return Result::failure(code);
        }
        catalog->store.members.push_back(std::move(member));
    }
    return Result(std::move(catalog));
}

} // namespace

Outcome<std::shared_ptr<const ParsedCatalog>>
ParseCatalogBytes(std::span<const std::uint8_t> bytes) {
    auto parsed = ParseCatalog(bytes);
    if (!parsed) {
        return Outcome<std::shared_ptr<const ParsedCatalog>>::failure(parsed.error());
    }
    return Outcome<std::shared_ptr<const ParsedCatalog>>(std::move(parsed.value()));
}

Outcome<std::shared_ptr<const ParsedCatalog>>
ParseCatalogBytesFor(std::span<const std::uint8_t> bytes, std::string_view memberTag) {
    auto parsed = ParseCatalog(bytes, &memberTag);
    if (!parsed) {
        return Outcome<std::shared_ptr<const ParsedCatalog>>::failure(parsed.error());
    }
    return Outcome<std::shared_ptr<const ParsedCatalog>>(std::move(parsed.value()));
}

namespace catalog_detail {

std::uint32_t ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
    auto file = ReadFileWithin(path, kMaxCatalogFileSize);
    if (!file) {
        // Windows tells a missing folder on the way (ERROR_PATH_NOT_FOUND) from a missing file.
        if (file.error() == codes::kFileNotFound || file.error() == codes::kPathNotFound) {
            const std::string dir = platform::ExtractFileDir(path);
            if (!dir.empty() && !platform::DirectoryExists(dir)) {
                return codes::kPathNotFound;
            }
        }
        return file.error();
    }
    out = std::move(file.value());
    return 0;
}

} // namespace catalog_detail

Outcome<std::vector<std::uint8_t>> ReadCatalogFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (const auto code = catalog_detail::ReadWholeFile(path, bytes)) {
        return Outcome<std::vector<std::uint8_t>>::failure(code);
    }
    return bytes;
}

Outcome<std::shared_ptr<const ParsedCatalog>> ParseCatalogFile(const std::string& path) {
    using Result = Outcome<std::shared_ptr<const ParsedCatalog>>;
    static platform::StampedCache<std::shared_ptr<const ParsedCatalog>> cache(64);
    return cache.get(path, 0, [&path]() -> Result {
        std::vector<std::uint8_t> bytes;
        if (const auto code = catalog_detail::ReadWholeFile(path, bytes)) {
            return Result::failure(code);
        }
        auto parsed = ParseCatalog(bytes);
        if (!parsed) {
            return Result::failure(parsed.error());
        }
        parsed.value()->store.path = path;
        return Result(std::shared_ptr<const ParsedCatalog>(std::move(parsed.value())));
    });
}

} // namespace halyard::trust
