// Files opened for streaming: reading shared with other readers and writers, and creating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace halyard::platform {

class FileReader {
public:
    // Throws EFOpenError ("Cannot open file "%s". %s") when the file cannot be opened.
    explicit FileReader(const std::string& path);
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

// Everything the reader has left, to the file's real end (it may have grown since it was opened).
std::vector<std::uint8_t> ReadToEnd(FileReader& reader);

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
