// File system services: wildcard listings, the recursive walk, existence tests, folders and the
// recursive deletion that never follows a symbolic link.
#pragma once

#include <cstdint>
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
std::string ExtractFileName(const std::string& path);
std::string ExtractFileDir(const std::string& path);
// The extension of the last path element, from its last '.', dot included; empty without a dot.
std::string ExtractFileExt(const std::string& path);

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
