// Initialisation files read and written as the Windows profile functions do. The file is read
// afresh on every call, as the profile functions do, so two objects on one file agree.
#include "platform/profile.h"

#include <optional>
#include <vector>

#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

namespace plat {

namespace {

struct TLine {
    std::string Text;
    std::string Eol; // the line's own end: "\r\n", "\n", "\r" or none for an unended last line
};

enum class TKind { Other, Section, Key };

struct TParsed {
    TKind Kind = TKind::Other;
    std::string Name;  // section or key name, trimmed
    std::string Value; // key value, trimmed, quotes kept
};

std::vector<TLine> SplitRaw(const std::string& data) {
    std::vector<TLine> lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({data.substr(start), ""});
            break;
        }
        size_t eolLength =
            data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n' ? 2 : 1;
        lines.push_back({data.substr(start, end - start), data.substr(end, eolLength)});
        start = end + eolLength;
    }
    return lines;
}

TParsed Parse(const std::string& text) {
    TParsed p;
    std::string t = Trim(text);
    if (t.empty() || t[0] == ';') return p;
    if (t[0] == '[') {
        size_t close = t.find(']');
        p.Kind = TKind::Section;
        p.Name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return p;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) return p;
    p.Kind = TKind::Key;
    p.Name = Trim(t.substr(0, eq));
    p.Value = Trim(t.substr(eq + 1));
    return p;
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// Walks the lines, calling onKey(index, parsed) for each key line of the named section
// (every section of that name, in file order) until it returns false.
template <typename F>
void ForEachKey(const std::vector<TLine>& lines, const std::string& section, F onKey) {
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        TParsed p = Parse(lines[i].Text);
        if (p.Kind == TKind::Section)
            inSection = SameText(p.Name, section);
        else if (inSection && p.Kind == TKind::Key && !onKey(i, p))
            return;
    }
}

[[noreturn]] void RaiseWriteError(const std::string& fileName, int code) {
    throw EInOutError("Unable to write to " + fileName, code);
}

bool HasLineBreak(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

class TProfileText {
public:
    // Reads the file; a missing file is empty, an unreadable one is an error.
    bool Load(const std::string& fileName) {
        std::string data;
        if (!ReadFileText(fileName, data, SmallFileMaxBytes + 1)) {
            const int code = GetLastError();
            return code == syserr::FileNotFound || code == syserr::PathNotFound;
        }
        Cut = data.size() > SmallFileMaxBytes;
        if (Cut) data.resize(SmallFileMaxBytes);
        // An editor's UTF-8 byte order mark would hide the first section; it is kept aside
        // and written back.
        if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            Bom = data.substr(0, 3);
            data.erase(0, 3);
        }
        Lines = SplitRaw(data);
        for (const TLine& line : Lines)
            if (!line.Eol.empty()) {
                Eol = line.Eol;
                break;
            }
        return true;
    }

    std::string Join() const {
        std::string data = Bom;
        for (const TLine& line : Lines) data += line.Text + line.Eol;
        return data;
    }

    // Adds a line before position at, giving an unended line before it a line end.
    void Insert(size_t at, const std::string& text) {
        if (at > 0 && Lines[at - 1].Eol.empty()) Lines[at - 1].Eol = Eol;
        Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(at), TLine{text, Eol});
    }

    std::vector<TLine> Lines;
    bool Cut = false; // longer than a profile file is read: only its start is in Lines
    std::string Bom;
    std::string Eol = "\r\n"; // a new file gets CR LF; an existing one keeps its own ends
};

std::optional<std::string> Find(const std::string& fileName, const std::string& section,
                                const std::string& key) {
    TProfileText text;
    if (!text.Load(ResolveName(fileName))) return std::nullopt;
    std::optional<std::string> value;
    std::string s = Trim(section), k = Trim(key);
    ForEachKey(text.Lines, s, [&](size_t, const TParsed& p) {
        if (!SameText(p.Name, k)) return true;
        value = Unquote(p.Value);
        return false;
    });
    return value;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    return Find(FFileName, section, key).value_or(def);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t def) const {
    std::optional<std::string> value = Find(FFileName, section, key);
    if (!value) return def;
    return TryStrToInt(*value).value_or(def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return Find(FFileName, section, key).has_value();
}

namespace {

// Names and values that would read back as other lines (line breaks, a key holding "=",
// a section holding "]") are refused rather than written: they would corrupt the file.
// A value that trimming or unquoting would change is written in quotes, so that it reads
// back exactly as written.
void ApplyWrite(const std::string& fileName, TProfileText& text, const std::string& section,
                const std::string& key, const std::string& value) {
    std::string s = Trim(section), k = Trim(key);
    if (s.empty() || k.empty() || HasLineBreak(s) || HasLineBreak(k) || HasLineBreak(value) ||
        s.find(']') != std::string::npos || k.find('=') != std::string::npos || k[0] == '[' ||
        k[0] == ';')
        RaiseWriteError(fileName, syserr::InvalidParameter);
    std::string stored = value;
    if (Trim(value) != value || Unquote(value) != value) stored = "\"" + value + "\"";

    bool done = false;
    ForEachKey(text.Lines, s, [&](size_t i, const TParsed& p) {
        if (!SameText(p.Name, k)) return true;
        text.Lines[i].Text = p.Name + "=" + stored;
        done = true;
        return false;
    });
    if (done) return;
    // After the last non-blank line of the first section of that name.
    size_t at = text.Lines.size();
    bool found = false;
    for (size_t i = 0; i < text.Lines.size(); ++i) {
        TParsed p = Parse(text.Lines[i].Text);
        if (p.Kind == TKind::Section) {
            if (found) break;
            if (SameText(p.Name, s)) {
                found = true;
                at = i + 1;
            }
        } else if (found && !Trim(text.Lines[i].Text).empty()) {
            at = i + 1;
        }
    }
    if (found) {
        text.Insert(at, k + "=" + stored);
    } else {
        if (!text.Lines.empty() && !Trim(text.Lines.back().Text).empty())
            text.Insert(text.Lines.size(), "");
        text.Insert(text.Lines.size(), "[" + s + "]");
        text.Insert(text.Lines.size(), k + "=" + stored);
    }
}

// Removes every line of the key in every section of that name, so that no later duplicate
// shows through once the first is gone. Answers whether anything was removed.
bool ApplyDelete(TProfileText& text, const std::string& section, const std::string& key) {
    std::string s = Trim(section), k = Trim(key);
    std::vector<size_t> doomed;
    ForEachKey(text.Lines, s, [&](size_t i, const TParsed& p) {
        if (SameText(p.Name, k)) doomed.push_back(i);
        return true;
    });
    for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
        text.Lines.erase(text.Lines.begin() + static_cast<std::ptrdiff_t>(*it));
    return !doomed.empty();
}

TProfileText LoadForWrite(const std::string& fileName) {
    TProfileText text;
    if (!text.Load(ResolveName(fileName))) RaiseWriteError(fileName, GetLastError());
    // Written back, a cut file would lose all that was not read.
    if (text.Cut) RaiseWriteError(fileName, syserr::FileTooLarge);
    return text;
}

void Save(const std::string& fileName, const TProfileText& text) {
    if (!WriteFileAtomic(ResolveName(fileName), text.Join()))
        RaiseWriteError(fileName, GetLastError());
}

} // namespace

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    TProfileText text = LoadForWrite(FFileName);
    ApplyWrite(FFileName, text, section, key, value);
    Save(FFileName, text);
}

// A missing key leaves the file untouched.
void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    TProfileText text = LoadForWrite(FFileName);
    if (ApplyDelete(text, section, key)) Save(FFileName, text);
}

void TIniFile::ReplaceKey(const std::string& section, const std::string& oldKey,
                          const std::string& newKey, const std::string& value) {
    TProfileText text = LoadForWrite(FFileName);
    ApplyWrite(FFileName, text, section, newKey, value);
    ApplyDelete(text, section, oldKey);
    Save(FFileName, text);
}

} // namespace plat
