// The safety rule for the paths of archive items: an item is written only below the target
// folder, whatever separators or tricks its stored path uses.
#pragma once

#include <string>
#include <string_view>

namespace halyard {

struct ArchiveItemPathCheck {
    bool ok = false;
    // The path relative to the target folder, parts joined with '/', when ok.
    std::string relative;
    // Why the path is refused, when not ok.
    std::string reason;
};

// Accepts a relative path whose parts are names; '\' and '/' both separate parts, empty and "."
// parts are dropped. Refuses an empty path, an absolute or drive path ("/x", "\\srv\x", "C:x"),
// any ".." part (also a part made of dots and blanks only, which Windows reads as one), a
// part with a colon (an alternate data stream on Windows) and a path with a zero character.
ArchiveItemPathCheck CheckArchiveItemPath(std::string_view path);

} // namespace halyard
