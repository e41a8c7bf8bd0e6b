// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

// Lines of a class file are bytes, one Latin-1 character each.
namespace tarn::classfile
{

// The longest line the format allows.
inline constexpr std::size_t kMaxLineLength = 32767;
inline constexpr int kMaxTokens = 30;

// Scrambles a line: with protect set, codes 31 to 127 are stored 128 higher.
// Codes of 128 and more pass unchanged: the header lines keep them as the
// earlier program wrote them, and the writer refuses them in class lines.
std::string ProtectLine(std::string_view line, bool protect);
// The same for one character, protect set.
inline char ProtectChar(char c)
{
    const unsigned code = static_cast<unsigned char>(c);
    return code > 30 && code < 128 ? static_cast<char>(code + 128) : c;
}
// The reverse: with protect set, codes above 128 are lowered by 128, so a plain
// line of codes up to 128 passes unchanged.
std::string UnprotectLine(std::string_view line, bool protect);

// Tokens 1 to 30 of a line at index 0 to 29; positions a line does not reach
// are empty.
using Tokens = std::array<std::string, kMaxTokens>;

// Unprotects the line and cuts it at spaces. A run of spaces is one separator,
// and a space at the start counts, leaving token 1 empty. Empty when the line
// holds more than 30 tokens.
std::optional<Tokens> SplitTokens(std::string_view line, bool protect);
// The same into tokens, reusing their storage; false when the line holds more than 30.
bool SplitTokens(std::string_view line, bool protect, Tokens &tokens);
// The same as views of a line unprotected already, where a space is ' ' (a
// scrambled 160 is one once lowered): no token is copied.
using TokenViews = std::array<std::string_view, kMaxTokens>;
bool SplitTokens(std::string_view unprotected, TokenViews &tokens);

} // namespace tarn::classfile
