#include "signtool_report.h"

#include "base/hex.h"
#include "base/unicode.h"
#include "platform/messages.h"

#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace signtool {

void Console::put(int fd, const std::string& bytes) {
    // A POSIX console program writes the locale's encoding, UTF-8.
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void Console::text(const std::string& line) {
    put(STDOUT_FILENO, line + "\r\r\n");
}

void Console::plain(const std::string& line) {
    put(STDOUT_FILENO, line + "\r\n");
}

void Console::blank() {
    put(STDOUT_FILENO, "\r\n");
}

void Console::error(const std::string& line) {
    put(STDERR_FILENO, line + "\r\r\n");
}

std::string FormatDate(std::int64_t secondsSince1970) {
    const auto t = static_cast<std::time_t>(secondsSince1970);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) {
        return {};
    }
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &tm);
    return std::string(buf, n);
}

void PrintChain(Console& out, const std::vector<halyard::platform::CertificateSummary>& chain) {
    std::string indent = "    ";
    for (const auto& cert : chain) {
        out.text(indent + "Issued to: " + cert.issuedTo);
        out.text(indent + "Issued by: " + cert.issuedBy);
        out.text(indent + "Expires:   " + FormatDate(cert.notAfter));
        out.text(indent + "SHA1 hash: " + cert.sha1Hex);
        out.blank();
        indent += "    ";
    }
}

void PrintTrustError(Console& out, std::uint32_t code) {
    out.error("SignTool Error: WinVerifyTrust returned error: 0x" + halyard::Hex8(code));
    std::string text = halyard::Trim(halyard::platform::SystemMessageText(code));
    if (!text.empty()) {
        out.error("        " + text);
    }
}

} // namespace signtool
