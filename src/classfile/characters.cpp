// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/characters.h"

#include <cstdio>

namespace tarn::classfile
{

namespace
{

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string describeCharacter(char32_t code)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD; // not a character: never written out as such
    char buffer[16];
    std::string out = "'";
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
        std::snprintf(buffer, sizeof buffer, "\\x%02x", unsigned(code));
        out += buffer;
    } else {
        appendUtf8(out, code);
    }
    std::snprintf(buffer, sizeof buffer, "' (U+%04X)", unsigned(code));
    return out + buffer;
}

} // namespace tarn::classfile
