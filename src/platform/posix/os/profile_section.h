// One section of an INI/INF file read in a single pass, as the private-profile service reads it
// (profile.cpp): for callers that look up many keys of one section, where a call of
// GetPrivateProfileString per key would read the whole file each time. Internal to the POSIX
// backend.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

namespace halyard::platform {

class ProfileSection {
public:
    // What GetPrivateProfileString(section, key, ...) answers, or nothing where it would answer
    // the default (the key is absent, or its first line has no "="). An empty key is absent.
    std::optional<std::string> value(const std::string& key) const;

private:
    friend ProfileSection ReadProfileSection(const std::string& section,
                                             const std::string& fileName, std::size_t bufferUnits);
    // By the upper-cased key name; the first line of a key decides, a line without "=" maps to
    // nothing.
    std::unordered_map<std::string, std::optional<std::string>> entries_;
};

// The first section of that name (an empty one when the file or the section is missing).
ProfileSection ReadProfileSection(const std::string& section, const std::string& fileName,
                                  std::size_t bufferUnits = 2048);

} // namespace halyard::platform
