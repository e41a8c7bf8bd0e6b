#include "classfilewriter.h"

#include "linecodec.h"

#include <utility>

namespace tarn::classfile
{

namespace
{

std::string quoted(std::string_view text)
{
    return '"' + std::string(text) + '"';
}

// A sum keeps a blank for its sign, so two spaces stand before a positive one.
std::string sumText(std::int32_t sum)
{
    return sum < 0 ? std::to_string(sum) : ' ' + std::to_string(sum);
}

template<std::size_t N> std::string joinedNumbers(const std::array<std::int16_t, N> &values)
{
    std::string line;
    for (std::size_t i = 0; i < N; ++i) {
        if (i)
            line += ' ';
        line += std::to_string(values[i]);
    }
    return line;
}

} // namespace

ClassFileWriter::ClassFileWriter(Sink sink, bool protect)
    : mSink(std::move(sink)), mProtect(protect)
{
}

bool ClassFileWriter::refuse(std::string message)
{
    mError = std::move(message);
    mSinkFailed = false;
    mBuffer.clear();
    return false;
}

std::string ClassFileWriter::checkText(std::string_view text, bool mayBeEmpty,
                                       bool mayHoldSpace) const
{
    if (text.empty() && !mayBeEmpty)
        return "is empty";
    // Code 128 reads back unchanged from a plain file only.
    const unsigned limit = mProtect ? 127 : 128;
    for (char c : text) {
        const unsigned code = static_cast<unsigned char>(c);
        if (c == '\r' || c == '\n')
            return "holds a line break";
        if (c == ' ' && !mayHoldSpace)
            return "holds a space";
        if (code > limit)
            return "holds the character " + quoted(std::string_view(&c, 1)) + " (code " +
                   std::to_string(code) + "), which " +
                   (mProtect ? "a scrambled class file" : "a plain class file") + " cannot carry";
    }
    return {};
}

void ClassFileWriter::addLine(std::string_view line)
{
    mBuffer += ProtectLine(line, mProtect);
    mBuffer += "\r\n";
}

bool ClassFileWriter::flush()
{
    if (!mSink(mBuffer)) {
        mBuffer.clear();
        mError = "the file could not be written";
        mSinkFailed = true;
        return false;
    }
    mBuffer.clear();
    return true;
}

bool ClassFileWriter::writeHeader(std::string_view modId, std::string_view configName)
{
    if (std::string why = checkText(modId, true, true); !why.empty())
        return refuse("the Mod ID " + why);
    if (std::string why = checkText(configName, true, true); !why.empty())
        return refuse("the configuration name " + why);
    const std::string first = "V3 " + std::string(modId);
    if (first.size() > kMaxLineLength)
        return refuse("the Mod ID is longer than a line of a class file may be");
    if (configName.size() > kMaxLineLength)
        return refuse("the configuration name is longer than a line of a class file may be");
    addLine(first);
    addLine(configName);
    return flush();
}

bool ClassFileWriter::writeClass(const ClassRecord &r)
{
    const std::string prefix = "class " + quoted(r.name) + ": ";
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
    for (const Text &t : texts)
        if (std::string why = checkText(t.value, t.mayBeEmpty, t.mayHoldSpace); !why.empty())
            return refuse(prefix + t.field + ' ' + why);

    std::array<std::int16_t, 10> weapons = r.weapons;
    weapons[0] = 1; // slot 1 always holds weapon 1
    const std::string lines[] = {
        '[' + r.name + ']',
        r.model + ' ' + r.skin1 + ' ' + r.skin2 + ' ' + std::to_string(r.decoySkin),
        joinedNumbers(weapons),
        joinedNumbers(r.grenades),
        std::to_string(r.armor) + ' ' + std::to_string(r.speed) + ' ' + std::to_string(r.health) +
            ' ' + sumText(r.specialSum) + ' ' + sumText(r.itemSum),
        joinedNumbers(r.ammo),
    };
    for (const std::string &line : lines)
        if (line.size() > kMaxLineLength)
            return refuse(prefix + "a line of the class would be longer than " +
                          std::to_string(kMaxLineLength) + " characters");
    mBuffer += "\r\n";
    for (const std::string &line : lines)
        addLine(line);
    return flush();
}

} // namespace tarn::classfile
