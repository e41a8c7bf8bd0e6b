// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::classfile
{

// One class block of a class file. Texts are Latin-1 bytes.
struct ClassRecord {
    std::string name; // between the brackets of the class line
    std::string model;
    std::string skin1;
    std::string skin2;
    std::int16_t decoySkin = 0;
    std::array<std::int16_t, 10> weapons{}; // the writer puts 1 in slot 1 whatever it holds
    std::array<std::int16_t, 3> grenades{};
    std::int16_t armor = 0;
    std::int16_t speed = 0;
    std::int16_t health = 0;
    std::int32_t specialSum = 0;
    std::int32_t itemSum = 0;
    std::array<std::int16_t, 6> ammo{}; // bullets, shells, rockets, grenades, cells, slugs

    // Flag k (from 1) is bit k - 1 of its sum: s1..s31, i1..i9.
    bool special(int k) const { return flagBit(specialSum, k); }
    bool item(int k) const { return flagBit(itemSum, k); }
    static bool flagBit(std::int32_t sum, int k);
};

inline constexpr int kSpecialFlags = 31;
inline constexpr int kItemFlags = 9;
inline constexpr int kMaxClasses = 32767;

// The outcome of parsing a number field.
struct Number {
    enum Kind { Ok, NotANumber, OutOfRange } kind = NotANumber;
    double value = 0; // set when Ok
};

// Optional sign, digits with an optional fraction, an optional exponent;
// anything else, the empty text included, is not a number.
Number parseNumber(std::string_view text);

// A field as a 16-bit value: a fraction rounds to the nearest whole number,
// a half to the even neighbour.
Number::Kind toWhole16(std::string_view text, std::int16_t *out);
// A flag sum: rounded down, 32-bit.
Number::Kind toSum32(std::string_view text, std::int32_t *out);

} // namespace tarn::classfile
