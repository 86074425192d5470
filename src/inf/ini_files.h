// The INI readers: TMemIniFile parses a whole file into memory once and answers lookups through
// hash tables; TIniFile passes every lookup to the platform's private-profile service (INF files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// The text encoding of an INI file. Detect: from the byte-order mark, else the ANSI code page.
enum class Encoding { Detect, Ansi, Utf8, Utf16Le, Utf16Be };

// A chained hash of texts to line indexes with a fixed number of buckets. Find answers the most
// recently added item with the key, so a table filled in line order resolves a repeated key to
// its last line.
class TStringHash {
public:
    explicit TStringHash(std::size_t size = 256);

    void Add(std::string key, int value);
    void Clear();
    // The value of the most recently added item with exactly this key, or -1.
    int ValueOf(std::string_view key) const;
    std::size_t bucketCount() const { return buckets_.size(); }

    // Over the key's UTF-16 code units: rotate the accumulator left by 2 bits, then XOR the unit.
    static std::uint32_t HashOf(std::string_view key);

private:
    struct Item {
        std::string key;
        int value;
        int next;
    };
    std::vector<int> buckets_;
    std::vector<Item> items_;
};

// An ordered list of lines with optional owned sub-lists, answering IndexOf (whole line) and
// IndexOfName (text before the first "=") through hash tables that are rebuilt only when a
// change made them invalid. Appending keeps valid tables valid by adding the new line.
class THashedStringList {
public:
    explicit THashedStringList(bool caseSensitive = false) : caseSensitive_(caseSensitive) {}

    int Count() const { return static_cast<int>(strings_.size()); }
    const std::string& Strings(int index) const {
        return strings_.at(static_cast<std::size_t>(index));
    }
    THashedStringList* Objects(int index) const {
        return objects_.at(static_cast<std::size_t>(index)).get();
    }

    int Add(std::string line, std::unique_ptr<THashedStringList> object = nullptr);
    // Changes a line in place (no copy of the rest of the list or of the line).
    void Modify(int index, const std::function<void(std::string&)>& change);
    void Clear();

    int IndexOf(std::string_view line) const;
    int IndexOfName(std::string_view name) const;
    // The text after the first "=" (empty without one).
    std::string ValueFromIndex(int index) const;

    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);

private:
    std::string hashKey(std::string_view text) const;
    void Changed();
    void UpdateValueHash() const;
    void UpdateNameHash() const;

    std::vector<std::string> strings_;
    std::vector<std::unique_ptr<THashedStringList>> objects_;
    bool caseSensitive_;
    mutable std::unique_ptr<TStringHash> valueHash_;
    mutable std::unique_ptr<TStringHash> nameHash_;
    mutable bool valueHashValid_ = false;
    mutable bool nameHashValid_ = false;
};

class TCustomIniFile {
public:
    explicit TCustomIniFile(std::string fileName) : FFileName(std::move(fileName)) {}
    virtual ~TCustomIniFile() = default;
    TCustomIniFile(const TCustomIniFile&) = delete;
    TCustomIniFile& operator=(const TCustomIniFile&) = delete;

    const std::string& FileName() const { return FFileName; }

    // The value of ident in section, or def when either is absent. Names match ignoring case.
    virtual std::string ReadString(const std::string& section, const std::string& ident,
                                   const std::string& def) = 0;

protected:
    std::string FFileName;
};

class TMemIniFile : public TCustomIniFile {
public:
    // Loads the whole file. A missing file (or an empty name) gives an empty document; a file
    // that exists but cannot be read throws EFOpenError.
    explicit TMemIniFile(const std::string& fileName, Encoding encoding = Encoding::Detect);

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) override;

    // The section names in order of first appearance.
    std::vector<std::string> ReadSections() const;
    // Every line of a section as stored (key lines as name=value), in order.
    std::vector<std::string> ReadSectionValues(const std::string& section) const;

    void Clear();
    // Parses lines as a file's content (the document is cleared first).
    void SetStrings(const std::vector<std::string>& lines);
    // Splits text at CR LF, CR and LF (a NUL ends it) and parses the lines.
    void SetText(std::string_view text);

    bool GetCaseSensitive() const { return FSections.CaseSensitive(); }
    void SetCaseSensitive(bool value);

    // The bytes of a file as text: the encoding's byte-order mark skipped, decoded to UTF-8 (the
    // given encoding, or the one the mark names, or ANSI).
    static std::string decodeText(std::span<const std::uint8_t> bytes, Encoding encoding);

private:
    class Parser;
    THashedStringList* AddSection(const std::string& name);
    void LoadValues();

    THashedStringList FSections;
    Encoding FEncoding;
};

class TIniFile : public TCustomIniFile {
public:
    explicit TIniFile(const std::string& fileName) : TCustomIniFile(fileName) {}

    // GetPrivateProfileString with a buffer of 2048 UTF-16 units.
    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) override;
};

} // namespace halyard
