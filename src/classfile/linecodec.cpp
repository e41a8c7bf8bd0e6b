#include "linecodec.h"

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
    const std::string plain = UnprotectLine(line, protect);
    Tokens tokens;
    std::size_t index = 0; // token 1
    // The start of the line counts as "not a space" before it.
    bool previousWasSpace = false;
    for (char c : plain) {
        if (c != ' ') {
            if (index >= tokens.size())
                return std::nullopt;
            tokens[index] += c;
            previousWasSpace = false;
        } else {
            if (!previousWasSpace)
                ++index;
            previousWasSpace = true;
        }
    }
    return tokens;
}

} // namespace tarn::classfile
