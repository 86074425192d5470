// Files opened for streaming: reading shared with other readers and writers, and creating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace halyard::platform {

// Throws EFOpenError "Cannot open file "<path>". <system text>" for the given code.
[[noreturn]] void ThrowFOpenError(const std::string& path, std::uint32_t code);

inline constexpr std::uint64_t kNoSizeCap = std::numeric_limits<std::uint64_t>::max();

// The most an INF file may hold: far above any real one (the largest are a few MB), low
// enough that its decoded text (up to three bytes for each byte), beside an INI document at its
// cap, stays within a run's memory budget of 64 MiB.
inline constexpr std::uint64_t kMaxInfFileSize = 12u * 1024 * 1024;
// The most an INI file read into memory whole (params.ini, cat_file.ini) may hold: real ones
// hold a few hundred bytes, and the in-memory document costs up to some 26 times the file's
// size, beside the text of an INF read at the same time.
inline constexpr std::uint64_t kMaxIniFileSize = 256u * 1024;

// An input file opened for reading, shared with other readers and writers. Opening never
// blocks and takes only a regular file (links followed): a folder is refused with
// ERROR_ACCESS_DENIED as Windows refuses it, a FIFO, socket or device with
// ERROR_CANT_ACCESS_FILE, and a file larger than the cap with ERROR_FILE_TOO_LARGE.
class FileReader {
public:
    // Throws EFOpenError ("Cannot open file "%s". %s") when the file cannot be opened.
    explicit FileReader(const std::string& path, std::uint64_t cap = kNoSizeCap);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Reads up to size bytes; 0 at the end. Throws EReadError when the read fails.
    std::size_t read(void* buffer, std::size_t size);
    // Reads exactly size bytes at offset, or fewer at the end of the file.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t size);
    std::uint64_t size() const;
    // origin: 0 start, 1 current, 2 end. Returns the new position.
    std::uint64_t seek(std::int64_t offset, int origin);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// The code a FileReader with this cap would fail with, 0 when it would open the file.
std::uint32_t ProbeInputFile(const std::string& path, std::uint64_t cap = kNoSizeCap);

// The whole file, read once: the one reader of files that are taken in whole. Throws EFOpenError
// as FileReader does, also when the file grows past the cap while it is read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::uint64_t cap);

// The loop under every whole-file read: a file of sizeAtOpen bytes is read through readAt (the
// count read at an offset, fewer only at the end, negative on failure) into out, on past that
// size while the file grows but never past the cap. 0, ERROR_FILE_TOO_LARGE when the file grew
// past the cap, or the last error code when a read failed.
std::uint32_t ReadAllWithinCap(std::uint64_t sizeAtOpen, std::uint64_t cap,
                               const std::function<long(std::uint64_t, void*, std::size_t)>& readAt,
                               std::vector<std::uint8_t>& out);

class Folder;

class FileWriter {
public:
    // Creates the file anew (replacing one of that name); throws EFCreateError.
    explicit FileWriter(const std::string& path);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(const void* data, std::size_t size); // throws EWriteError
    std::uint64_t seek(std::int64_t offset, int origin);
    void setSize(std::uint64_t size);
    std::uint64_t size() const;
    void close();

private:
    friend class Folder;
    // Adopts a file a Folder has created (the descriptor or handle); path is for messages.
    FileWriter(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

    std::string path_;
    int fd_ = -1;
};

} // namespace halyard::platform
