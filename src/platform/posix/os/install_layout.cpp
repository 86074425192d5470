#include "os/install_layout.h"

#include "platform/files.h"
#include "platform/trust.h"

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

std::vector<std::string> TrustFolders() {
    const InstallLayout& layout = ProgramLayout();
    if (layout.adminTrust.empty()) {
        return {layout.shippedTrust};
    }
    return {layout.adminTrust, layout.shippedTrust};
}

} // namespace halyard::platform
