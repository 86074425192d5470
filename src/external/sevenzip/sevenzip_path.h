// The safety rule for the paths of archive items: an item is written only below the target
// folder, whatever separators or tricks its stored path uses.
#pragma once

#include <cstddef>
#include <span>
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
// part with a colon (an alternate data stream on Windows), a path with a zero character, a part
// with a character Windows allows in no name (" * ? < > | and the controls), and a part that
// Windows reads as a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9 and the
// superscript COM and LPT one to three, in any case, with any extension: "aux.sys" is AUX).
ArchiveItemPathCheck CheckArchiveItemPath(std::string_view path);

// One item of an archive as its listing gives it.
struct ArchiveItemEntry {
    std::string path; // as stored
    bool folder = false;
};

struct ArchiveItemsCheck {
    bool ok = true;
    // The refused item (an index into the entries) and why, when not ok.
    std::size_t item = 0;
    std::string reason;
};

// The check of a whole archive before anything is written: every file's path must pass
// CheckArchiveItemPath, and no two items may be the same file on Windows, where a name is
// compared after dropping the trailing dots and blanks of each of its parts and upper-casing
// it (case-insensitive, per UTF-16 unit). So exact duplicates, names that differ only in
// letter case, "a.sys" and "a.sys. " collide, and so does a file whose path is also a folder's
// (an item's or a folder on another item's path). Names reach here as UTF-8, with unpaired
// surrogates already replaced: names that differ only there collide too. Folders may repeat;
// a folder whose path is refused is left out (folders are not written by themselves). The
// refused item is the first one in archive order whose path is refused or that clashes with an
// earlier item, which the reason then names.
ArchiveItemsCheck CheckArchiveItemPaths(std::span<const ArchiveItemEntry> items);

} // namespace halyard
