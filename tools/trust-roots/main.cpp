// mktrustroots --list authroot.stl --list-roots DIR --out DIR [--skip DIR] BUNDLE...
//
// Writes into DIR (after removing the .pem files it holds) every certificate of the bundles
// (PEM or DER files, or folders of them searched recursively) whose SHA-1 thumbprint the root
// list names and enables for code signing or time stamping, as <name>-<thumbprint>.pem. The
// list's signature is verified first against the roots in --list-roots. Certificates whose
// thumbprint is already among the roots of --skip are left out. Prints one line per root
// written: "<SHA-1>\t<uses>\t<name>".
#include "halyard/trust/verify.h"
#include "root_list.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace halyard;

namespace {

struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

std::string Sha1Hex(X509* cert) {
    return trust::Summarize(cert).sha1Hex;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every certificate of a file: PEM blocks, or one DER certificate.
std::vector<trust::X509Ptr> CertificatesOf(const fs::path& path) {
    std::vector<trust::X509Ptr> out;
    const std::string bytes = ReadFile(path);
    if (bytes.find("-----BEGIN") != std::string::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        while (bio) {
            trust::X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
            if (!cert) {
                break;
            }
            out.push_back(std::move(cert));
        }
        ERR_clear_error();
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (trust::X509Ptr cert{d2i_X509(nullptr, &p, static_cast<long>(bytes.size()))}) {
            out.push_back(std::move(cert));
        }
        ERR_clear_error();
    }
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsCertificateFile(const fs::path& path) {
    const std::string ext = Lower(path.extension().string());
    return ext == ".pem" || ext == ".crt" || ext == ".cer";
}

// Every certificate of a file or of the certificate files below a folder, in path order.
std::vector<trust::X509Ptr> CertificatesIn(const fs::path& source) {
    if (!fs::is_directory(source)) {
        return CertificatesOf(source);
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        if (entry.is_regular_file() && IsCertificateFile(entry.path())) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<trust::X509Ptr> out;
    for (const auto& file : files) {
        auto certs = CertificatesOf(file);
        std::move(certs.begin(), certs.end(), std::back_inserter(out));
    }
    return out;
}

// A file name from the certificate's display name: lower-case letters and digits, dashes between.
std::string Slug(const std::string& name) {
    std::string slug;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            slug += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!slug.empty() && slug.back() != '-') {
            slug += '-';
        }
    }
    while (!slug.empty() && slug.back() == '-') {
        slug.pop_back();
    }
    return slug.empty() ? "root" : slug;
}

std::string UsesText(const trust_roots::RootEntry& entry) {
    if (entry.allUses) {
        return "all uses";
    }
    std::string text;
    if (entry.usages.contains(trust_roots::kOidCodeSigning)) {
        text = "code signing";
    }
    if (entry.usages.contains(trust_roots::kOidTimeStamping)) {
        text += text.empty() ? "time stamping" : ", time stamping";
    }
    return text;
}

std::string Pem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) {
        throw std::runtime_error("cannot write a certificate as PEM");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

int Usage() {
    std::cerr << "usage: mktrustroots --list authroot.stl --list-roots DIR --out DIR "
                 "[--skip DIR] BUNDLE...\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string list, listRoots, out, skip;
    std::vector<std::string> bundles;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string* target = arg == "--list"         ? &list
                              : arg == "--list-roots" ? &listRoots
                              : arg == "--out"        ? &out
                              : arg == "--skip"       ? &skip
                                                      : nullptr;
        if (target != nullptr) {
            if (++i >= argc) {
                return Usage();
            }
            *target = argv[i];
        } else {
            bundles.push_back(arg);
        }
    }
    if (list.empty() || listRoots.empty() || out.empty() || bundles.empty()) {
        return Usage();
    }
    try {
        const trust_roots::RootList roots = trust_roots::ReadVerifiedRootList(list, listRoots);
        std::map<std::string, const trust_roots::RootEntry*> enabled;
        for (const auto& entry : roots.entries) {
            if (entry.enabledForCodeSigning()) {
                enabled.emplace(entry.sha1Hex, &entry);
            }
        }
        std::set<std::string> present;
        if (!skip.empty()) {
            for (const auto& cert : CertificatesIn(skip)) {
                present.insert(Sha1Hex(cert.get()));
            }
        }
        fs::create_directories(out);
        for (const auto& entry : fs::directory_iterator(out)) {
            if (entry.path().extension() == ".pem") {
                fs::remove(entry.path());
            }
        }
        std::set<std::string> written;
        for (const auto& bundle : bundles) {
            for (const auto& cert : CertificatesIn(bundle)) {
                const std::string sha1 = Sha1Hex(cert.get());
                const auto it = enabled.find(sha1);
                if (it == enabled.end() || present.contains(sha1) || written.contains(sha1)) {
                    continue;
                }
                written.insert(sha1);
                const std::string name = trust::Summarize(cert.get()).issuedTo;
                const std::string uses = UsesText(*it->second);
                std::ofstream file(fs::path(out) /
                                       (Slug(name) + "-" + Lower(sha1.substr(0, 8)) + ".pem"),
                                   std::ios::binary);
                file << "# " << name << "\n# SHA-1 " << sha1 << "\n# Trusted by Microsoft's root "
                     << "program for " << uses << "\n"
                     << Pem(cert.get());
                if (!file) {
                    throw std::runtime_error("cannot write into " + out);
                }
                std::cout << sha1 << '\t' << uses << '\t' << name << '\n';
            }
        }
        char date[32] = {};
        std::tm tm{};
        gmtime_r(&roots.thisUpdate, &tm);
        std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
        std::cerr << "mktrustroots: the list of " << date << " verified; " << roots.entries.size()
                  << " roots listed, " << enabled.size()
                  << " enabled for code signing or time stamping, " << written.size()
                  << " found in the bundles and written\n";
    } catch (const std::exception& e) {
        std::cerr << "mktrustroots: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
