#pragma once
// Initialisation (profile) files with the Windows profile functions' behaviour: section and
// key names ignore case; values are trimmed and one pair of surrounding double quotes is
// removed; a key present with an empty value reads as empty, an absent one as the default.
// Writing or deleting a key keeps every other line, comment and blank line and the file's
// CR LF line ends, appends a missing section at the end, creates a missing file and
// replaces the file atomically. One portable implementation (profile.cpp) on every build,
// over ReadFileText and WriteFileAtomic, so a file behaves the same everywhere.
#include <cstdint>
#include <string>

namespace plat {

class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    const std::string& FileName() const { return FFileName; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // The whole-number conversion of the value, or def when it is not one.
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t def) const;
    // A whole number, 0 false and anything else true; def when the value is not one.
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    // Raise EInOutError when the file can't be written.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void DeleteKey(const std::string& section, const std::string& key);
    // Writes newKey and deletes oldKey in one replacement of the file: no reader ever sees
    // both, or neither.
    void ReplaceKey(const std::string& section, const std::string& oldKey,
                    const std::string& newKey, const std::string& value);

private:
    std::string FFileName;
};

} // namespace plat
