// Small ASCII helpers for the names and numbers the program matches and writes
// itself: switches, its own file names, exit codes. No locale takes part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

// `text` with A to Z in lower case; every other byte as it is.
inline std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// `text` without the pair of double quotes a script or a registry value may
// have put around it; as it is otherwise.
inline std::string Unquoted(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    return std::string(text);
}

// Appends the `digits` lowest hex digits of `value`, most significant first.
inline void AppendHex(std::string& text, std::uint64_t value, int digits, bool upperCase = false) {
    const char* const kDigits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xF];
}

}  // namespace tarnwick
