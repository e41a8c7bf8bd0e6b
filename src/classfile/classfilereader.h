// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classfile/classrecord.h"
#include "classfile/linecodec.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::classfile
{

// Why a class file cannot be read: the 1-based line and the cause.
struct ReadError {
    std::int64_t line = 0;
    std::string cause; // Latin-1, as the file's own text may be quoted
};

// A byte above 128 in a plain file, which the reader (as the game) takes 128
// lower: a Latin-1 'é' (0xE9) reads as 'i'.
struct LoweredByte {
    std::int64_t line = 0;
    unsigned char byte = 0; // the first such byte of the line
};

// Reads a class file block by block, plain or scrambled alike, with the loose
// rules the game's own tools follow: line 1 is skipped, line 2 ignored, any
// number of empty lines (none included) may stand between blocks, a line of
// spaces is not empty, and the last line of the file is never examined. Lines
// end in LF or CR LF; text after the last line end is a last line. A file of
// just the two header lines holds no class.
class ClassFileReader
{
public:
    enum class Step { Class, End, Error };

    // Fills up to size bytes at data: the number read, 0 at the end of the
    // file, -1 when it could not be read.
    using Source = std::function<std::ptrdiff_t(char *data, std::size_t size)>;

    explicit ClassFileReader(Source source);

    // The next class into record; End after the last, Error on a problem
    // (and on every call after it).
    Step next(ClassRecord &record);

    const ReadError &error() const { return mError; }
    // When line 1 shows a plain file ("V3"): the first kMaxLowered lines read
    // as class data that hold a byte above 128, and how many such lines
    // there are in all.
    static constexpr std::size_t kMaxLowered = 5;
    const std::vector<LoweredByte> &lowered() const { return mLowered; }
    std::int64_t loweredLines() const { return mLoweredLines; }
    std::uint64_t bytesRead() const { return mConsumed; }
    int classCount() const { return mClasses; }

private:
    enum class State { Start, Reading, Done, Failed };
    enum class Line { Ok, End, TooLong, Unreadable };

    Line readLine(std::string &line);
    bool atEnd();
    bool fill();
    Step fail(std::int64_t line, std::string cause);
    // Reads the next line; false (after fail) when it is missing, too long or
    // unreadable. A missing line is refused as missing says, or inside the
    // block that begins on line block when that is set.
    bool require(std::string &line, const char *missing, std::int64_t block = 0);
    bool readBlock(ClassRecord &record);
    // Makes the line read last the current one.
    void takeCurrent();
    // Notes the first byte above 128 of a line of class data (0: none).
    void noteLowered(unsigned char byte, std::int64_t line);

    Source mSource;
    bool mSourceEnded = false;
    bool mSourceFailed = false;
    std::vector<char> mBuffer;
    std::size_t mPos = 0;
    std::size_t mLen = 0;
    std::uint64_t mConsumed = 0;
    std::int64_t mLineNumber = 0; // of the line read last
    State mState = State::Start;
    std::string mCurrent;              // unprotected
    unsigned char mCurrentLowered = 0; // the current line's first byte above 128
    bool mPlain = false;
    std::vector<LoweredByte> mLowered;
    std::int64_t mLoweredLines = 0;
    std::string mLine;
    TokenViews mTokens;       // of the line read last
    std::string mUnprotected; // that line lowered, when it had bytes to lower
    int mClasses = 0;
    ReadError mError;
};

// A source over bytes in memory, which must outlive the reader.
ClassFileReader::Source memorySource(std::string_view bytes);

} // namespace tarn::classfile
