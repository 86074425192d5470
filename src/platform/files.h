// File system services: wildcard listings, the recursive walk, existence tests, folders and the
// recursive deletion that never follows a symbolic link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::platform {

// The separator the platform appends to paths.
#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

bool IsPathDelimiter(char c);
std::string IncludeTrailingPathDelimiter(const std::string& path);
// The parts of a relative path separated by any of delimiters, without empty and "." parts.
std::vector<std::string> SplitRelativePath(std::string_view relative,
                                           std::string_view delimiters = "/");
std::string ExtractFileName(const std::string& path);
std::string ExtractFileDir(const std::string& path);
// The extension of the last path element, from its last '.', dot included; empty without a dot.
std::string ExtractFileExt(const std::string& path);

// The full path of a file name, as Windows' full-path expansion gives it (GetFullPathName): a
// relative name is taken from the current folder, and "." and ".." elements are folded by their
// text alone, without asking the file system. A trailing delimiter stays. Empty for an empty
// name; the name as given when the current folder cannot be found.
std::string ExpandFileName(const std::string& path);

// Wildcard match ('*' and '?') ignoring letter case.
bool MatchesMask(std::string_view name, std::string_view mask);

bool FileExists(const std::string& path);      // a file (links followed), not a folder
bool DirectoryExists(const std::string& path); // a folder (links followed)

// Top-level files of a folder whose names match the mask, as full paths (folder + name), in
// the order Windows lists an NTFS folder: by upper-cased UTF-16 units, ordinal (POSIX sorts to
// that order). Throws EInOutError when the folder cannot be listed.
std::vector<std::string> ListFiles(const std::string& dir, std::string_view mask);

// Every file below a folder, depth first, each folder in the order of ListFiles: a subfolder's
// files come where its entry comes.
// Symbolic links are listed as files and never descended into.
std::vector<std::string> ListFilesRecursive(const std::string& dir);

// Deletes a folder and everything below it; a symbolic link is removed, never followed.
// Throws EInOutError when something cannot be deleted. A missing folder is not an error.
void DeleteTree(const std::string& dir);

// Creates one folder level; false when it could not be made (it may exist already).
bool CreateDir(const std::string& dir);
// Creates a folder and its missing parents; throws EInOutError on failure.
void ForceDirectories(const std::string& dir);
// Creates the folders of a relative path ('/' or '\\' separated) below base, one level at a time,
// never through a symbolic link: a link or a file on the way throws EInOutError.
void ForceDirectoriesBelow(const std::string& base, const std::string& relative);

class FileWriter;

// A folder held open. Files are created relative to the held folder, one level at a time and
// never through a symbolic link or reparse point, so renaming the folder or one of its parents,
// or putting a link in their place, cannot redirect a write.
class Folder {
public:
    // Opens the folder at path, creating it and its missing parents first. A link, or anything
    // else that is not a folder, at path throws EInOutError.
    static std::unique_ptr<Folder> openOrCreate(const std::string& path);
    virtual ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The path the folder was opened at, with a trailing delimiter: for messages and readers.
    const std::string& path() const { return path_; }
    // Creates the file at a relative path ('/'-separated names) anew for writing. Missing
    // folders on the way are made level by level; an existing regular file is replaced. A link
    // or any other kind of entry on the way is refused: EInOutError ("Cannot create folder") for
    // a folder level, EFCreateError ("Cannot create file") for the file itself.
    std::unique_ptr<FileWriter> createFileBelow(const std::string& relative);
    // Bytes that may still be written on the folder's file system by an unprivileged user, or
    // on the one given to judgeSpaceAt.
    std::uint64_t availableBytes() const;
    // Free space is judged on the file system of the existing folder at path, and named as
    // shown in messages: a copy of a run made elsewhere answers as the run would.
    void judgeSpaceAt(std::string path, std::string shown) {
        spaceAt_ = std::move(path);
        spaceShown_ = std::move(shown);
    }
    // The folder whose file system's free space counts, for messages.
    const std::string& spacePath() const { return spaceAt_.empty() ? path_ : spaceShown_; }

protected:
    Folder(std::string path, std::intptr_t handle);
    // Deletes everything below the folder, never following a link; throws EInOutError.
    void deleteContent();

    std::string path_;
    std::intptr_t handle_; // descriptor (POSIX) or HANDLE (Windows)
    std::string spaceAt_;
    std::string spaceShown_;
};

// The work folder of one run: made anew at its path and held for the run so that nothing else
// can take its place, locked against other runs that would use the same path, and removed with
// everything in it (never following a link) by remove() or, failing that, by the destructor.
class WorkFolder final : public Folder {
public:
    struct Made {
        std::unique_ptr<WorkFolder> folder;
        std::string refusal; // why there is no folder, when folder is null
    };
    // Makes the folder at path. A folder left there by an earlier run is deleted first; one that
    // another run is using is waited for, up to kWorkFolderWaitSeconds, and is then refused.
    // Anything at path that is not a real folder (a file, a link even to a folder, a pipe, a
    // device) is never deleted or followed: it is refused. Throws EInOutError when a leftover
    // folder cannot be deleted.
    static Made create(const std::string& path);
    ~WorkFolder() override;

    // Notes the folder as it is once filled. The checks read through its path, so another
    // program able to rename entries beside it could move it away, put a folder of its own in
    // its place while a check reads, and move it back: every such move marks the folder, and
    // remove() then removes it and throws EInOutError. Throws EInOutError when the path already
    // leads elsewhere. (On Windows the held handle forbids moving the folder: nothing to note.)
    void seal();
    // Removes the folder with everything in it; throws EInOutError when something stays or the
    // folder was moved since seal().
    void remove();

private:
    WorkFolder(std::string path, std::intptr_t handle, std::intptr_t parent, std::string name);
    // The path still leads to the folder this run holds.
    bool stillAtPath() const;

    std::intptr_t parent_; // the folder that holds it (POSIX), unused on Windows
    std::string name_;
    bool removed_ = false;
    std::int64_t sealedChangeNs_ = -1; // its change time when sealed (POSIX); -1: not sealed
};

// How long a run waits for another run that holds the same work folder.
inline constexpr int kWorkFolderWaitSeconds = 300;

// The folder of the running program, with a trailing delimiter.
std::string ProgramDirectory();

// The file's size and modification time, for cache keys; false when it cannot be read.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};
bool GetFileStamp(const std::string& path, FileStamp& stamp);

} // namespace halyard::platform
