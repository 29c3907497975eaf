#include "platform/command_line.h"

namespace plat {

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string current;
    bool inWord = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true; // "" is a word of its own, an empty one
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(current);
            current.clear();
            inWord = false;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(current);
    return words;
}

} // namespace plat
