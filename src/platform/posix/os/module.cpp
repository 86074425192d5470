#include "platform/module.h"

#include "base/outcome.h"
#include "base/unicode.h"
#include "os/install_layout.h"
#include "platform/files.h"

#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace halyard::platform {

namespace {

std::vector<std::string> LibraryPathFolders() {
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
        std::string all = env;
        std::size_t start = 0;
        while (start <= all.size()) {
            const auto end = all.find(':', start);
            const std::string dir = all.substr(start, end - start);
            if (!dir.empty()) {
                dirs.push_back(dir);
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return dirs;
}

// The files a Windows module name stands for, most specific first.
std::vector<std::string> Candidates(const std::string& name) {
    std::vector<std::string> out;
    const std::string lower = AsciiLower(ExtractFileName(name));
    if (name.find('/') != std::string::npos) {
        out.push_back(name); // a path is loaded as given
        return out;
    }
    std::string file = name;
    if (lower == "7z.dll") {
        file = "7z.so";
    } else if (lower == "setupapi.dll") {
        file = "libsetupapi.so";
    } else if (EndsWithIgnoreCase(lower, ".dll")) {
        file = "lib" + lower.substr(0, lower.size() - 4) + ".so";
    }
    for (const auto& dir : HelperFolders()) {
        out.push_back(dir + file);
    }
    for (const auto& dir : LibraryPathFolders()) {
        out.push_back(IncludeTrailingPathDelimiter(dir) + file);
    }
    if (file == "7z.so") {
        for (const char* dir : {"/usr/lib/p7zip/", "/usr/lib/7zip/", "/usr/libexec/p7zip/",
                                "/usr/lib/x86_64-linux-gnu/p7zip/", "/usr/local/lib/p7zip/"}) {
            out.push_back(std::string(dir) + file);
        }
    }
    return out;
}

} // namespace

std::string ResolveModulePath(const std::string& name) {
    for (const auto& candidate : Candidates(name)) {
        if (FileExists(candidate)) {
            return candidate;
        }
    }
    return {};
}

ModuleHandle LoadModuleLibrary(const std::string& name, std::uint32_t* error) {
    const std::string path = ResolveModulePath(name);
    void* handle = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        *error = path.empty() ? codes::kModNotFound : codes::kBadExeFormat;
    }
    return handle;
}

void* GetModuleSymbol(ModuleHandle module, const char* name) {
    return module == nullptr ? nullptr : ::dlsym(module, name);
}

void FreeModuleLibrary(ModuleHandle module) {
    if (module != nullptr) {
        ::dlclose(module);
    }
}

} // namespace halyard::platform
