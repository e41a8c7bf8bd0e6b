// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/classfilewriter.h"

#include "classfile/characters.h"
#include "classfile/linecodec.h"

#include <charconv>
#include <utility>

namespace tarn::classfile
{

namespace
{

void appendNumber(std::string &out, std::int32_t value)
{
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// A sum keeps a blank for its sign, so two spaces stand before a positive one.
void appendSum(std::string &out, std::int32_t sum)
{
    if (sum >= 0)
        out += ' ';
    appendNumber(out, sum);
}

template<std::size_t N>
void appendNumbers(std::string &out, const std::array<std::int16_t, N> &values)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (i)
            out += ' ';
        appendNumber(out, values[i]);
    }
}

} // namespace

ClassFileWriter::ClassFileWriter(Sink sink, bool protect)
    : mSink(std::move(sink)), mProtect(protect)
{
}

bool ClassFileWriter::refuse(std::string field, std::string cause)
{
    mError = {std::move(field), std::move(cause)};
    mSinkFailed = false;
    mBuffer.clear();
    return false;
}

std::string ClassFileWriter::error() const
{
    return mError.field.empty() ? mError.cause : mError.field + ' ' + mError.cause;
}

std::string ClassFileWriter::checkText(std::string_view text, bool mayBeEmpty, bool mayHoldSpace,
                                       unsigned limit) const
{
    if (text.empty() && !mayBeEmpty)
        return "is empty";
    for (char c : text) {
        const unsigned code = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n')
            return "holds a line break";
        if (c == ' ' && !mayHoldSpace)
            return "holds a space";
        if (code > limit)
            return "holds the character " + describeCharacter(code) + ", which " +
                   (mProtect ? "a scrambled class file" : "a plain class file") + " cannot carry";
    }
    return {};
}

void ClassFileWriter::addLine(std::string_view line)
{
    const std::size_t start = mBuffer.size();
    mBuffer += line;
    if (mProtect)
        for (std::size_t i = start; i < mBuffer.size(); ++i)
            mBuffer[i] = ProtectChar(mBuffer[i]);
    mBuffer += "\r\n";
}

bool ClassFileWriter::flush()
{
    if (!mSink(mBuffer)) {
        mBuffer.clear();
        mError = {{}, "the file could not be written"};
        mSinkFailed = true;
        return false;
    }
    mBuffer.clear();
    return true;
}

bool ClassFileWriter::writeHeader(std::string_view modId, std::string_view configName)
{
    const char *const modIdField = "Mod ID", *const nameField = "configuration name";
    if (std::string why = checkText(modId, true, true, 255); !why.empty())
        return refuse(modIdField, why);
    if (std::string why = checkText(configName, true, true, 255); !why.empty())
        return refuse(nameField, why);
    const std::string first = "V3 " + std::string(modId);
    const std::string tooLong = "is longer than a line of a class file may be";
    if (first.size() > kMaxLineLength)
        return refuse(modIdField, tooLong);
    if (configName.size() > kMaxLineLength)
        return refuse(nameField, tooLong);
    addLine(first);
    addLine(configName);
    return flush();
}

bool ClassFileWriter::writeClass(const ClassRecord &r)
{
    struct Text {
        const char *field;
        const std::string &value;
        bool mayBeEmpty;
        bool mayHoldSpace;
    };
    // The class name is a whole line: "[]" reads back as an empty name.
    const Text texts[] = {{"class_name", r.name, true, true},
                          {"model_name", r.model, true, false},
                          {"skin_name1", r.skin1, false, false},
                          {"skin_name2", r.skin2, false, false}};
    // Code 128 reads back unchanged from a plain file only.
    const unsigned limit = mProtect ? 127 : 128;
    for (const Text &t : texts)
        if (std::string why = checkText(t.value, t.mayBeEmpty, t.mayHoldSpace, limit); !why.empty())
            return refuse(t.field, why);

    // Only the two lines with texts can grow long; nothing reaches the sink
    // before flush(), and a refusal drops the buffer.
    auto tooLong = [&]() {
        return refuse({}, "a line of the class would be longer than " +
                              std::to_string(kMaxLineLength) + " characters");
    };
    mBuffer += "\r\n";
    std::string &line = mLine;
    line.assign(1, '[');
    line += r.name;
    line += ']';
    if (line.size() > kMaxLineLength)
        return tooLong();
    addLine(line);

    line = r.model;
    line += ' ';
    line += r.skin1;
    line += ' ';
    line += r.skin2;
    line += ' ';
    appendNumber(line, r.decoySkin);
    if (line.size() > kMaxLineLength)
        return tooLong();
    addLine(line);

    std::array<std::int16_t, 10> weapons = r.weapons;
    weapons[0] = 1; // slot 1 always holds weapon 1
    line.clear();
    appendNumbers(line, weapons);
    addLine(line);

    line.clear();
    appendNumbers(line, r.grenades);
    addLine(line);

    line.clear();
    appendNumbers(line, std::array<std::int16_t, 3>{r.armor, r.speed, r.health});
    line += ' ';
    appendSum(line, r.specialSum);
    line += ' ';
    appendSum(line, r.itemSum);
    addLine(line);

    line.clear();
    appendNumbers(line, r.ammo);
    addLine(line);
    return flush();
}

} // namespace tarn::classfile
