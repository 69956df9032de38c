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

// Whether `a` and `b` are the same but for the case of A to Z: two spellings
// of one path or name.
inline bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
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

// Appends an HRESULT or an exception's code as it is written: 0x and eight
// upper-case digits.
inline void AppendCode(std::string& text, std::uint32_t code) {
    text += "0x";
    AppendHex(text, code, 8, true);
}

}  // namespace tarnwick
