#include "inf/ini_files.h"

#include "base/unicode.h"
#include "inf/inf_text.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/profile.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace halyard {

namespace {

constexpr std::size_t kInitialBuckets = 256;

std::string_view TrimView(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && IsBlank(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && IsBlank(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return s.substr(b, e - b);
}

void TrimRightInPlace(std::string& s) {
    std::size_t e = s.size();
    while (e > 0 && IsBlank(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    s.resize(e);
}

} // namespace

// ---- TStringHash ----

TStringHash::TStringHash(std::size_t size) : buckets_(size == 0 ? 1 : size, -1) {}

std::uint32_t TStringHash::HashOf(std::string_view key) {
    std::uint32_t result = 0;
    inf::ForEachUnit(key, [&result](char16_t unit) {
        result = ((result << 2) | (result >> 30)) ^ static_cast<std::uint32_t>(unit);
    });
    return result;
}

void TStringHash::Add(std::string key, int value) {
    const std::size_t bucket = HashOf(key) % buckets_.size();
    items_.push_back(Item{std::move(key), value, buckets_[bucket]});
    buckets_[bucket] = static_cast<int>(items_.size() - 1);
}

void TStringHash::Clear() {
    items_.clear();
    std::fill(buckets_.begin(), buckets_.end(), -1);
}

int TStringHash::ValueOf(std::string_view key) const {
    const std::size_t bucket = HashOf(key) % buckets_.size();
    for (int i = buckets_[bucket]; i >= 0; i = items_[static_cast<std::size_t>(i)].next) {
        const Item& item = items_[static_cast<std::size_t>(i)];
        if (item.key == key) {
            return item.value;
        }
    }
    return -1;
}

// ---- THashedStringList ----

std::string THashedStringList::hashKey(std::string_view text) const {
    return caseSensitive_ ? std::string(text) : inf::UpperKey(text);
}

void THashedStringList::Changed() {
    valueHashValid_ = false;
    nameHashValid_ = false;
}

int THashedStringList::Add(std::string line, std::unique_ptr<THashedStringList> object) {
    const int index = Count();
    // A line added at the end goes into valid tables directly: filling in line order is what a
    // rebuild would do, so the answers are the same without a rebuild per added line.
    if (valueHashValid_) {
        valueHash_->Add(hashKey(line), index);
    }
    if (nameHashValid_) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            nameHash_->Add(hashKey(std::string_view(line).substr(0, eq)), index);
        }
    }
    strings_.push_back(std::move(line));
    objects_.push_back(std::move(object));
    return index;
}

void THashedStringList::Modify(int index, const std::function<void(std::string&)>& change) {
    change(strings_.at(static_cast<std::size_t>(index)));
    Changed();
}

void THashedStringList::Clear() {
    strings_.clear();
    objects_.clear();
    Changed();
}

void THashedStringList::SetCaseSensitive(bool value) {
    if (value != caseSensitive_) {
        caseSensitive_ = value;
        Changed();
    }
}

void THashedStringList::UpdateValueHash() const {
    if (valueHashValid_) {
        return;
    }
    if (valueHash_) {
        valueHash_->Clear();
    } else {
        valueHash_ = std::make_unique<TStringHash>(kInitialBuckets);
    }
    for (std::size_t i = 0; i < strings_.size(); ++i) {
        valueHash_->Add(hashKey(strings_[i]), static_cast<int>(i));
    }
    valueHashValid_ = true;
}

void THashedStringList::UpdateNameHash() const {
    if (nameHashValid_) {
        return;
    }
    if (nameHash_) {
        nameHash_->Clear();
    } else {
        nameHash_ = std::make_unique<TStringHash>(kInitialBuckets);
    }
    for (std::size_t i = 0; i < strings_.size(); ++i) {
        const auto eq = strings_[i].find('=');
        if (eq != std::string::npos) {
            nameHash_->Add(hashKey(std::string_view(strings_[i]).substr(0, eq)),
                           static_cast<int>(i));
        }
    }
    nameHashValid_ = true;
}

int THashedStringList::IndexOf(std::string_view line) const {
    UpdateValueHash();
    return valueHash_->ValueOf(hashKey(line));
}

int THashedStringList::IndexOfName(std::string_view name) const {
    UpdateNameHash();
    return nameHash_->ValueOf(hashKey(name));
}

std::string THashedStringList::ValueFromIndex(int index) const {
    const std::string& s = Strings(index);
    const auto eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

// ---- TMemIniFile ----

// The line parser: tolerant section headers, repeated sections continuing the first, and key
// lines ending in "\" continued by the following lines without "=".
class TMemIniFile::Parser {
public:
    explicit Parser(TMemIniFile& ini) : ini_(ini) {}

    void feedLine(std::string_view raw) {
        const std::string_view s = TrimView(raw);
        if (s.empty() || s.front() == ';') {
            return;
        }
        if (s.front() == '[') {
            const auto close = s.find(']', 1);
            if (close != std::string_view::npos) {
                const std::string name(TrimView(s.substr(1, close - 1)));
                auto [found, added] = sections_.try_emplace(sectionKey(name), nullptr);
                if (!added) {
                    current_ = found->second;
                    setStringsCount(current_->Count());
                } else {
                    current_ = found->second = ini_.AddSection(name);
                    setStringsCount(0);
                }
                return;
            }
        }
        if (current_ == nullptr) {
            return;
        }
        const auto eq = s.find('=');
        if (eq != std::string_view::npos) {
            std::string line(TrimView(s.substr(0, eq)));
            line += '=';
            line += TrimView(s.substr(eq + 1));
            current_->Add(std::move(line));
            setStringsCount(current_->Count());
            lastHasEq_ = true;
            return;
        }
        if (stringsCount_ > 0 && continues()) {
            current_->Modify(stringsCount_ - 1, [s](std::string& line) {
                TrimRightInPlace(line);
                line.pop_back(); // the "\"
                TrimRightInPlace(line);
                line += s;
            });
            return;
        }
        current_->Add(std::string(s));
        setStringsCount(current_->Count());
        lastHasEq_ = false;
    }

private:
    std::string sectionKey(std::string_view name) const {
        return ini_.GetCaseSensitive() ? std::string(name) : inf::UpperKey(name);
    }

    void setStringsCount(int count) {
        stringsCount_ = count;
        lastHasEq_.reset();
    }

    // Does the line at StringsCount end in "\" (blanks aside) and contain "="? Whether it holds
    // "=" is remembered: a continued line keeps its "=", and scanning it again on every
    // continuation would make long chains quadratic.
    bool continues() {
        const std::string& line = current_->Strings(stringsCount_ - 1);
        const std::string_view body = TrimView(line);
        if (body.empty() || body.back() != '\\') {
            return false;
        }
        if (!lastHasEq_) {
            lastHasEq_ = line.find('=') != std::string::npos;
        }
        return *lastHasEq_;
    }

    TMemIniFile& ini_;
    // The sections met so far, by the name FSections.IndexOf compares. The parser keeps its
    // own index because every header needs a lookup: FSections' table, whose 256 chains hash
    // only the last few characters apart, would make documents with many sections quadratic.
    std::unordered_map<std::string, THashedStringList*> sections_;
    THashedStringList* current_ = nullptr;
    int stringsCount_ = 0;
    std::optional<bool> lastHasEq_;
};

TMemIniFile::TMemIniFile(const std::string& fileName, Encoding encoding)
    : TCustomIniFile(fileName), FEncoding(encoding) {
    LoadValues();
}

void TMemIniFile::LoadValues() {
    if (FFileName.empty() || !platform::FileExists(FFileName)) {
        Clear();
        return;
    }
    // A file too large for the cap, or no regular file, cannot be opened: EFOpenError.
    std::string text;
    {
        const auto bytes = platform::ReadWholeFile(FFileName, platform::kMaxIniFileSize);
        text = decodeText(bytes, FEncoding);
    }
    SetText(text);
}

std::string TMemIniFile::decodeText(std::span<const std::uint8_t> bytes, Encoding encoding) {
    const ByteOrderMark mark = DetectByteOrderMark(bytes);
    const Encoding marked = mark == ByteOrderMark::Utf8      ? Encoding::Utf8
                            : mark == ByteOrderMark::Utf16Le ? Encoding::Utf16Le
                            : mark == ByteOrderMark::Utf16Be ? Encoding::Utf16Be
                                                             : Encoding::Ansi;
    if (encoding == Encoding::Detect) {
        encoding = marked;
    }
    // The mark is dropped only when it names the encoding the text is read in.
    const std::size_t skip =
        mark != ByteOrderMark::None && encoding == marked ? ByteOrderMarkSize(mark) : 0;
    const auto body = bytes.subspan(skip);
    std::string text;
    switch (encoding) {
    case Encoding::Utf8: {
        const std::string_view raw(reinterpret_cast<const char*>(body.data()), body.size());
        text = IsValidUtf8(raw) ? std::string(raw) : Utf16ToUtf8(Utf8ToUtf16(raw));
        break;
    }
    case Encoding::Utf16Le:
        text = Utf16LeBytesToUtf8(body, true);
        break;
    case Encoding::Utf16Be: {
        std::vector<std::uint8_t> swapped(body.begin(), body.end());
        for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) {
            std::swap(swapped[i], swapped[i + 1]);
        }
        text = Utf16LeBytesToUtf8(swapped, true);
        break;
    }
    case Encoding::Ansi:
    case Encoding::Detect:
        text =
            AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        break;
    }
    const auto nul = text.find('\0');
    if (nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

void TMemIniFile::SetText(std::string_view text) {
    Clear();
    Parser parser(*this);
    std::size_t start = 0;
    while (start < text.size()) {
        parser.feedLine(NextLine(text, start));
    }
}

void TMemIniFile::SetStrings(const std::vector<std::string>& lines) {
    Clear();
    Parser parser(*this);
    for (const std::string& line : lines) {
        parser.feedLine(line);
    }
}

void TMemIniFile::Clear() {
    FSections.Clear();
}

THashedStringList* TMemIniFile::AddSection(const std::string& name) {
    auto list = std::make_unique<THashedStringList>(GetCaseSensitive());
    THashedStringList* raw = list.get();
    FSections.Add(name, std::move(list));
    return raw;
}

void TMemIniFile::SetCaseSensitive(bool value) {
    FSections.SetCaseSensitive(value);
    for (int i = 0; i < FSections.Count(); ++i) {
        FSections.Objects(i)->SetCaseSensitive(value);
    }
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& def) {
    const int index = FSections.IndexOf(section);
    if (index < 0) {
        return def;
    }
    const THashedStringList* lines = FSections.Objects(index);
    const int line = lines->IndexOfName(ident);
    if (line < 0) {
        return def;
    }
    return lines->ValueFromIndex(line);
}

std::vector<std::string> TMemIniFile::ReadSections() const {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(FSections.Count()));
    for (int i = 0; i < FSections.Count(); ++i) {
        names.push_back(FSections.Strings(i));
    }
    return names;
}

std::vector<std::string> TMemIniFile::ReadSectionValues(const std::string& section) const {
    std::vector<std::string> values;
    const int index = FSections.IndexOf(section);
    if (index >= 0) {
        const THashedStringList* lines = FSections.Objects(index);
        for (int i = 0; i < lines->Count(); ++i) {
            values.push_back(lines->Strings(i));
        }
    }
    return values;
}

// ---- TIniFile ----

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& def) {
    return platform::GetPrivateProfileString(section, ident, def, FFileName, 2048);
}

} // namespace halyard
