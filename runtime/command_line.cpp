#include "runtime/command_line.h"

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    auto separator = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && separator(line[i])) ++i;
        if (i >= line.size()) break;
        std::string word;
        bool quoted = false;
        while (i < line.size() && (quoted || !separator(line[i]))) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                word += line[i];
            ++i;
        }
        words.push_back(std::move(word));
    }
    return words;
}
