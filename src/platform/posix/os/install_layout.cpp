#include "os/install_layout.h"

#include "platform/files.h"
#include "platform/trust.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace halyard::platform {

namespace {

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool CutSuffix(std::string& path, std::string_view suffix) {
    if (!path.ends_with(suffix)) {
        return false;
    }
    path.resize(path.size() - suffix.size());
    return true;
}

} // namespace

InstallLayout LayoutFor(const std::string& programDirectory) {
    const std::string dir = WithoutTrailingDelimiters(programDirectory);
    InstallLayout layout;
    layout.helperDirectory = IncludeTrailingPathDelimiter(dir);
    layout.shippedTrust = layout.helperDirectory + "trust";

    std::string prefix = dir;
    if (!CutSuffix(prefix, "/libexec/halyard") && !CutSuffix(prefix, "/bin")) {
        return layout;
    }
    if (!DirectoryExists(prefix + "/share/halyard")) {
        return layout; // a build tree's bin/
    }
    layout.installed = true;
    layout.helperDirectory = prefix + "/libexec/halyard/";
    layout.shippedTrust = prefix + "/share/halyard/trust";
    std::string root = prefix;
    layout.adminTrust = (CutSuffix(root, "/usr") ? root : prefix) + "/etc/halyard/trust";
    return layout;
}

const InstallLayout& ProgramLayout() {
    static const InstallLayout layout = LayoutFor(ProgramDirectory());
    return layout;
}

std::vector<std::string> HelperFolders() {
    std::vector<std::string> folders{ProgramLayout().helperDirectory};
    const std::string own = ProgramDirectory();
    if (own != folders.front()) {
        folders.push_back(own);
    }
    return folders;
}

std::string TrustFolder() {
    return ProgramLayout().shippedTrust;
}

TrustFolderChoice TrustFoldersFor(const InstallLayout& layout, const char* variable) {
    TrustFolderChoice choice;
    if (variable != nullptr && *variable != '\0') {
        // Only what the caller named: no installed folder, nothing found by a relative path.
        choice.fromVariable = true;
        const std::string_view all(variable);
        std::size_t start = 0;
        while (start <= all.size()) {
            const std::size_t end = std::min(all.find(':', start), all.size());
            const std::string entry(all.substr(start, end - start));
            if (entry.starts_with('/')) {
                choice.folders.push_back(entry);
            } else if (!entry.empty()) {
                choice.unused.push_back(entry);
            }
            start = end + 1;
        }
        return choice;
    }
    if (!layout.adminTrust.empty()) {
        choice.folders.push_back(layout.adminTrust);
    }
    choice.folders.push_back(layout.shippedTrust);
    return choice;
}

const TrustFolderChoice& ChosenTrustFolders() {
    static const TrustFolderChoice choice =
        TrustFoldersFor(ProgramLayout(), std::getenv(kTrustDirVariable));
    return choice;
}

std::vector<std::string> TrustFolders() {
    return ChosenTrustFolders().folders;
}

} // namespace halyard::platform
