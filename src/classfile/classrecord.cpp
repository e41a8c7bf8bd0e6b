// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/classrecord.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace tarn::classfile
{

bool ClassRecord::flagBit(std::int32_t sum, int k)
{
    return k >= 1 && k <= 32 && ((static_cast<std::uint32_t>(sum) >> (k - 1)) & 1u) != 0;
}

namespace
{

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Up to four digits, perhaps after a minus: most fields of a class file, read
// without the general rules, whose result they would get.
std::optional<int> shortWhole(std::string_view text)
{
    const bool minus = !text.empty() && text[0] == '-';
    if (text.size() <= std::size_t(minus) || text.size() > std::size_t(minus) + 4)
        return std::nullopt;
    int n = 0;
    for (std::size_t i = minus; i < text.size(); ++i) {
        if (!isDigit(text[i]))
            return std::nullopt;
        n = n * 10 + (text[i] - '0');
    }
    return minus ? -n : n;
}

} // namespace

Number parseNumber(std::string_view text)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::size_t mantissaStart = i;
    std::size_t digits = 0;
    // The power of ten of the first non-zero digit, to tell an overflow from an
    // underflow below; INT64 bounds keep absurd exponents from wrapping.
    std::int64_t order = 0;
    bool seenNonZero = false;
    std::int64_t intDigits = 0;
    while (i < text.size() && isDigit(text[i])) {
        if (seenNonZero || text[i] != '0') {
            if (!seenNonZero)
                seenNonZero = true;
            ++intDigits;
        }
        ++digits;
        ++i;
    }
    if (seenNonZero)
        order = intDigits - 1;
    // A plain whole number, the usual field, is summed exactly here; the
    // conversion rounds as from_chars would.
    if (i == text.size() && digits > 0 && digits <= 18) {
        if (!seenNonZero)
            return {Number::Ok, 0.0};
        std::int64_t whole = 0;
        for (std::size_t d = mantissaStart; d < i; ++d)
            whole = whole * 10 + (text[d] - '0');
        return {Number::Ok, static_cast<double>(negative ? -whole : whole)};
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        std::int64_t position = 0;
        while (i < text.size() && isDigit(text[i])) {
            ++position;
            if (!seenNonZero && text[i] != '0') {
                seenNonZero = true;
                order = -position;
            }
            ++digits;
            ++i;
        }
    }
    if (digits == 0)
        return {};
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            expNegative = text[i++] == '-';
        std::int64_t exponent = 0;
        const std::size_t expStart = i;
        while (i < text.size() && isDigit(text[i])) {
            if (exponent < 1'000'000'000)
                exponent = exponent * 10 + (text[i] - '0');
            ++i;
        }
        if (i == expStart)
            return {};
        order += expNegative ? -exponent : exponent;
    }
    if (i != text.size())
        return {};
    const double sign = negative ? -1.0 : 1.0;
    if (!seenNonZero)
        return {Number::Ok, 0.0};
    // from_chars takes no '+' and works in the C locale whatever the process's.
    double value = 0;
    const char *first = text.data() + mantissaStart;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (order > 0)
            return {Number::OutOfRange, 0};
        // Too small for a double: the smallest one keeps its sign for rounding down.
        return {Number::Ok, sign * std::numeric_limits<double>::denorm_min()};
    }
    if (ec != std::errc() || end != text.data() + text.size())
        return {};
    return {Number::Ok, sign * value};
}

Number::Kind toWhole16(std::string_view text, std::int16_t *out)
{
    if (const std::optional<int> n = shortWhole(text)) {
        *out = static_cast<std::int16_t>(*n);
        return Number::Ok;
    }
    const Number n = parseNumber(text);
    if (n.kind != Number::Ok)
        return n.kind;
    // The default rounding mode rounds a half to the even neighbour.
    const double rounded = std::nearbyint(n.value);
    if (!(rounded >= std::numeric_limits<std::int16_t>::min() &&
          rounded <= std::numeric_limits<std::int16_t>::max()))
        return Number::OutOfRange;
    *out = static_cast<std::int16_t>(rounded);
    return Number::Ok;
}

Number::Kind toSum32(std::string_view text, std::int32_t *out)
{
    if (const std::optional<int> n = shortWhole(text)) {
        *out = *n;
        return Number::Ok;
    }
    const Number n = parseNumber(text);
    if (n.kind != Number::Ok)
        return n.kind;
    const double floored = std::floor(n.value);
    if (!(floored >= std::numeric_limits<std::int32_t>::min() &&
          floored <= std::numeric_limits<std::int32_t>::max()))
        return Number::OutOfRange;
    *out = static_cast<std::int32_t>(floored);
    return Number::Ok;
}

} // namespace tarn::classfile
