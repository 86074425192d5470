// The look at a 7z archive's headers before the library reads them, on arbitrary files: it must
// never read outside the file, a refusal always says why, and an encoded header it hands on to
// be unpacked is within the bound and comes as an archive that passes the same look.
#include "external/sevenzip/sevenzip_header.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

using halyard::SevenZipHeaderCheck;

SevenZipHeaderCheck Check(std::span<const std::uint8_t> file) {
    return halyard::CheckSevenZipStart(
        file.size(), [file](std::uint64_t offset, void* data, std::size_t size) -> std::size_t {
            if (offset >= file.size() || size == 0) {
                return 0;
            }
            const std::size_t n = std::min<std::uint64_t>(size, file.size() - offset);
            std::memcpy(data, file.data() + offset, n);
            return n;
        });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const SevenZipHeaderCheck check = Check(input);
    switch (check.verdict) {
    case SevenZipHeaderCheck::Verdict::Pass:
        break;
    case SevenZipHeaderCheck::Verdict::Refuse:
        if (check.reason.empty()) {
            std::abort();
        }
        break;
    case SevenZipHeaderCheck::Verdict::Decode: {
        if (check.headerSize == 0 || check.headerSize > halyard::kMaxHeaderBytes ||
            check.headerArchive.empty()) {
            std::abort();
        }
        // The archive made for unpacking the header declares nothing past a bound itself.
        const SevenZipHeaderCheck inner = Check(check.headerArchive);
        if (inner.verdict == SevenZipHeaderCheck::Verdict::Refuse) {
            std::abort();
        }
        break;
    }
    }
    // The same bytes as an unpacked header.
    if (size > 0 && data[0] == 0x01) {
        const std::string reason = halyard::CheckSevenZipPlainHeader(input);
        (void)reason;
    }
    return 0;
}
