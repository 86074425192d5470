#include "standin_copy.h"

#include <filesystem>

namespace halyard::test {

std::string CopyStandInWithPublicRoots(const TempDir& folder) {
    namespace fs = std::filesystem;
    const std::string program = folder / "SignTool.exe";
    CopyFile(BinDir() + "SignTool.exe", program);
    fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
    fs::create_directories(folder / "trust");
    for (const auto& e : fs::directory_iterator(RealworldDir() + "certs/roots")) {
        CopyFile(e.path().string(), folder / ("trust/" + e.path().filename().string()));
    }
    return program;
}

} // namespace halyard::test
