// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the class file reader and the line codec. Besides the
// sanitizers it checks that the codec undoes itself, that tokens and numbers
// agree with the text they came from, and that every class read is written
// back by the writer (or refused by it) so that it reads back the same.

#include "classfile/classfilereader.h"
#include "classfile/classfilewriter.h"
#include "classfile/linecodec.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarn::classfile;

namespace
{

[[noreturn]] void violated(const char *what)
{
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

void require(bool condition, const char *what)
{
    if (!condition)
        violated(what);
}

void checkNumber(const std::string &text)
{
    const Number n = parseNumber(text);
    std::int16_t whole = 0;
    std::int32_t sum = 0;
    const Number::Kind k16 = toWhole16(text, &whole);
    const Number::Kind k32 = toSum32(text, &sum);
    if (n.kind != Number::Ok) {
        require(k16 == n.kind && k32 == n.kind, "a field that is no number converts");
        return;
    }
    require(std::isfinite(n.value), "a number parses as infinite or NaN");
    // strtod takes more forms (hex, inf) but agrees on ours. Values too small
    // for a normal double may come out as the smallest one, keeping the sign
    // (which is all that rounding needs).
    const double reference = std::strtod(text.c_str(), nullptr);
    const bool tiny = std::fabs(reference) < 1e-300 && std::fabs(n.value) < 1e-300 &&
                      std::signbit(reference) == std::signbit(n.value);
    require(n.value == reference || tiny, "parseNumber disagrees with strtod");
    const double rounded = std::nearbyint(n.value);
    if (k16 == Number::Ok)
        require(whole == rounded, "a 16-bit field is not the rounded number");
    else
        require(k16 == Number::OutOfRange && (rounded < -32768 || rounded > 32767),
                "a 16-bit value is refused");
    const double floored = std::floor(n.value);
    if (k32 == Number::Ok)
        require(sum == floored, "a sum is not the number rounded down");
    else
        require(k32 == Number::OutOfRange && (floored < -2147483648.0 || floored > 2147483647.0),
                "a 32-bit sum is refused");
}

void checkCodec(std::string_view line)
{
    require(ProtectLine(line, false) == line && UnprotectLine(line, false) == line,
            "the codec changes a line with protect off");
    const std::string scrambled = ProtectLine(line, true);
    bool carried = true; // codes up to 127 survive scrambling
    for (char c : line)
        carried = carried && static_cast<unsigned char>(c) <= 127;
    if (carried)
        require(UnprotectLine(scrambled, true) == line, "unscrambling does not undo scrambling");

    const std::optional<Tokens> tokens = SplitTokens(line, true);
    const std::string plain = UnprotectLine(line, true);
    std::string joined, withoutSpaces;
    for (char c : plain)
        if (c != ' ')
            withoutSpaces += c;
    if (!tokens)
        return;
    for (const std::string &token : *tokens) {
        require(token.find(' ') == std::string::npos, "a token holds a space");
        joined += token;
        checkNumber(token);
    }
    require(joined == withoutSpaces, "the tokens are not the line without its spaces");
}

bool sameRecord(const ClassRecord &a, const ClassRecord &b)
{
    return a.name == b.name && a.model == b.model && a.skin1 == b.skin1 && a.skin2 == b.skin2 &&
           a.decoySkin == b.decoySkin && a.weapons == b.weapons && a.grenades == b.grenades &&
           a.armor == b.armor && a.speed == b.speed && a.health == b.health &&
           a.specialSum == b.specialSum && a.itemSum == b.itemSum && a.ammo == b.ammo;
}

// What the writer accepts must read back as it was.
void checkRoundTrip(ClassRecord record)
{
    record.weapons[0] = 1; // the writer's rule for slot 1
    for (bool protect : {false, true}) {
        std::string out;
        ClassFileWriter writer(
            [&out](std::string_view bytes) {
                out += bytes;
                return true;
            },
            protect);
        if (!writer.writeHeader("fuzz", "Round trip") || !writer.writeClass(record))
            continue;
        ClassFileReader reader(memorySource(out));
        ClassRecord back;
        require(reader.next(back) == ClassFileReader::Step::Class, "a written class is not read");
        require(sameRecord(record, back), "a written class reads back changed");
        require(reader.next(back) == ClassFileReader::Step::End, "a written file reads on");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);

    const std::string_view firstLine =
        std::string_view(input).substr(0, std::min(input.find('\n'), kMaxLineLength));
    checkCodec(firstLine);

    ClassFileReader reader(memorySource(input));
    ClassRecord record;
    std::int64_t lines = 1;
    for (char c : input)
        lines += c == '\n';
    for (int classes = 0;;) {
        switch (reader.next(record)) {
        case ClassFileReader::Step::Class:
            ++classes;
            require(classes == reader.classCount() && classes <= kMaxClasses,
                    "the class count is off");
            checkRoundTrip(record);
            continue;
        case ClassFileReader::Step::End:
            require(reader.bytesRead() <= size, "more bytes read than given");
            return 0;
        case ClassFileReader::Step::Error:
            require(reader.error().line >= 1 && reader.error().line <= lines + 1,
                    "an error names a line the file does not have");
            require(!reader.error().cause.empty(), "an error without a cause");
            require(reader.next(record) == ClassFileReader::Step::Error,
                    "the reader goes on after an error");
            return 0;
        }
    }
}
