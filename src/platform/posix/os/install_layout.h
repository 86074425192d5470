// Where the POSIX build finds its helpers and its trusted roots, derived from the running
// program's real location (/proc/self/exe, links resolved), so that a relocated or unpacked tree
// works as well as an installed one. Internal to the POSIX backend.
//
//   build tree   build/<preset>/bin/{halyard, SignTool.exe, libsetupapi.so, trust/}
//   installed    <prefix>/bin/halyard, <prefix>/bin/catinspect
//                <prefix>/libexec/halyard/{SignTool.exe, libsetupapi.so}
//                <prefix>/share/halyard/trust/        the roots the package ships
//                <etc>/halyard/trust/                 the roots an administrator adds
//
// <etc> is /etc for the prefix /usr, <root>/etc for a prefix <root>/usr (a package unpacked into
// a scratch root), and <prefix>/etc for any other prefix (/usr/local/etc, /opt/halyard/etc). A
// tree counts as installed when <prefix>/share/halyard exists beside its bin/ or libexec/halyard/.
// A caller who sets HALYARD_TRUST_DIR reads only the folders it names, instead of both trust
// folders.
#pragma once

#include "platform/trust.h"

#include <string>
#include <vector>

namespace halyard::platform {

struct InstallLayout {
    bool installed = false;
    std::string helperDirectory; // SignTool.exe and libsetupapi.so, with a trailing delimiter
    std::string shippedTrust;    // the roots that come with the program
    std::string adminTrust;      // the administrator's roots; empty in a build tree
};

// The layout for a program that runs from programDirectory (with or without a trailing
// delimiter).
InstallLayout LayoutFor(const std::string& programDirectory);

// The layout of the running program, worked out once.
const InstallLayout& ProgramLayout();

// The trust folders for a layout and the value of the caller's trust variable (null when unset).
TrustFolderChoice TrustFoldersFor(const InstallLayout& layout, const char* variable);

// Where a helper program or library is looked for first: the helper folder, then the program's
// own folder when that is another one.
std::vector<std::string> HelperFolders();

} // namespace halyard::platform
