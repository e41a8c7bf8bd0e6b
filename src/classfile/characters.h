// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tarn::classfile
{

// One character for a message, in UTF-8: "'é' (U+00E9)", "'😀' (U+1F600)".
// A control character is shown escaped ("'\x1b' (U+001B)") so that it cannot
// act on a terminal or break the message's line.
std::string describeCharacter(char32_t code);

} // namespace tarn::classfile
