// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/linecodec.h"

namespace tarn::classfile
{

std::string ProtectLine(std::string_view line, bool protect)
{
    std::string out(line);
    if (!protect)
        return out;
    for (char &c : out)
        c = ProtectChar(c);
    return out;
}

std::string UnprotectLine(std::string_view line, bool protect)
{
    std::string out(line);
    if (!protect)
        return out;
    for (char &c : out) {
        const unsigned code = static_cast<unsigned char>(c);
        if (code > 128)
            c = static_cast<char>(code - 128);
    }
    return out;
}

std::optional<Tokens> SplitTokens(std::string_view line, bool protect)
{
    Tokens tokens;
    if (!SplitTokens(line, protect, tokens))
        return std::nullopt;
    return tokens;
}

bool SplitTokens(std::string_view line, bool protect, Tokens &tokens)
{
    for (std::string &token : tokens)
        token.clear();
    // Scrambled, 160 is a space.
    auto isSpace = [protect](char c) {
        return c == ' ' || (protect && static_cast<unsigned char>(c) == 160);
    };
    std::size_t index = 0; // token 1
    // The start of the line counts as "not a space" before it.
    bool previousWasSpace = false;
    for (std::size_t i = 0; i < line.size();) {
        if (isSpace(line[i])) {
            if (!previousWasSpace)
                ++index;
            previousWasSpace = true;
            ++i;
            continue;
        }
        std::size_t end = i;
        bool high = false; // a byte that unscrambling lowers
        while (end < line.size() && !isSpace(line[end])) {
            high |= static_cast<unsigned char>(line[end]) > 128;
            ++end;
        }
        if (index >= tokens.size())
            return false;
        std::string &token = tokens[index];
        token.assign(line.data() + i, end - i);
        if (protect && high)
            for (char &c : token)
                if (static_cast<unsigned char>(c) > 128)
                    c = static_cast<char>(static_cast<unsigned char>(c) - 128);
        previousWasSpace = false;
        i = end;
    }
    return true;
}

bool SplitTokens(std::string_view unprotected, TokenViews &tokens)
{
    const char *const text = unprotected.data();
    const std::size_t size = unprotected.size();
    std::size_t index = 0;
    for (std::size_t i = 0; i < size;) {
        if (text[i] == ' ') { // at the start: token 1 is empty
            tokens[index++] = {};
            while (i < size && text[i] == ' ')
                ++i;
            continue;
        }
        std::size_t end = i;
        while (end < size && text[end] != ' ') // tokens are short: no call for them
            ++end;
        if (index >= tokens.size())
            return false;
        tokens[index++] = std::string_view(text + i, end - i);
        // The separator after a token counts once: the run is skipped here.
        while (end < size && text[end] == ' ')
            ++end;
        i = end;
    }
    for (; index < tokens.size(); ++index)
        tokens[index] = {};
    return true;
}

} // namespace tarn::classfile
