// SPDX-License-Identifier: GPL-3.0-or-later
#include "classfile/classfilereader.h"

#include "classfile/linecodec.h"

#include <algorithm>
#include <cstring>

namespace tarn::classfile
{

namespace
{

constexpr std::size_t kChunk = 64 * 1024;

// UnprotectLine into out, keeping its capacity.
void unprotectInto(std::string_view line, std::string &out)
{
    out.assign(line);
    for (char &c : out)
        if (static_cast<unsigned char>(c) > 128)
            c = static_cast<char>(static_cast<unsigned char>(c) - 128);
}

// The first byte above 128 of a line, which UnprotectLine lowers; 0 when none.
unsigned char firstLowered(std::string_view line)
{
    for (const char c : line)
        if (static_cast<unsigned char>(c) > 128)
            return static_cast<unsigned char>(c);
    return 0;
}

std::string quoted(std::string_view text)
{
    return '"' + std::string(text) + '"';
}

} // namespace

ClassFileReader::ClassFileReader(Source source) : mSource(std::move(source)), mBuffer(kChunk) {}

bool ClassFileReader::fill()
{
    if (mPos < mLen)
        return true;
    if (mSourceEnded)
        return false;
    const std::ptrdiff_t n = mSource(mBuffer.data(), mBuffer.size());
    mPos = 0;
    mLen = n > 0 ? std::size_t(n) : 0;
    if (n <= 0) {
        mSourceEnded = true;
        mSourceFailed = n < 0;
    }
    return mLen > 0;
}

ClassFileReader::Source memorySource(std::string_view bytes)
{
    return [bytes](char *data, std::size_t size) mutable {
        const std::size_t n = std::min(size, bytes.size());
        if (n > 0)
            std::memcpy(data, bytes.data(), n);
        bytes.remove_prefix(n);
        return std::ptrdiff_t(n);
    };
}

bool ClassFileReader::atEnd()
{
    return !fill();
}

ClassFileReader::Line ClassFileReader::readLine(std::string &line)
{
    line.clear();
    bool any = false;
    while (fill()) {
        any = true;
        const char *start = mBuffer.data() + mPos;
        const std::size_t available = mLen - mPos;
        const void *found = std::memchr(start, '\n', available);
        const std::size_t take =
            found ? std::size_t(static_cast<const char *>(found) - start) : available;
        // One more than the limit for the CR of a CR LF.
        if (line.size() + take > kMaxLineLength + 1) {
            ++mLineNumber;
            return Line::TooLong;
        }
        line.append(start, take);
        mPos += found ? take + 1 : take;
        mConsumed += found ? take + 1 : take;
        if (found)
            break;
    }
    if (mSourceFailed)
        return Line::Unreadable;
    if (!any)
        return Line::End;
    ++mLineNumber;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() > kMaxLineLength)
        return Line::TooLong;
    return Line::Ok;
}

ClassFileReader::Step ClassFileReader::fail(std::int64_t line, std::string cause)
{
    mError = {line, std::move(cause)};
    mState = State::Failed;
    return Step::Error;
}

bool ClassFileReader::require(std::string &line, const char *missing, std::int64_t block)
{
    switch (readLine(line)) {
    case Line::Ok:
        return true;
    case Line::End:
        fail(mLineNumber + 1, block > 0
                                  ? "the file ends inside the class block that begins on line " +
                                        std::to_string(block)
                                  : std::string(missing));
        return false;
    case Line::TooLong:
        fail(mLineNumber,
             "the line is longer than " + std::to_string(kMaxLineLength) + " characters");
        return false;
    case Line::Unreadable:
        fail(mLineNumber + 1, "the file could not be read");
        return false;
    }
    return false;
}

void ClassFileReader::noteLowered(unsigned char byte, std::int64_t number)
{
    if (byte == 0)
        return;
    if (mLowered.size() < kMaxLowered)
        mLowered.push_back({number, byte});
    ++mLoweredLines;
}

bool ClassFileReader::readBlock(ClassRecord &r)
{
    const std::int64_t start = mLineNumber;
    if (mCurrent.size() < 2) {
        fail(start, "the class line holds only \"[\"");
        return false;
    }
    if (mClasses >= kMaxClasses) {
        fail(start, "the file holds more than " + std::to_string(kMaxClasses) + " classes");
        return false;
    }
    r.name.assign(mCurrent, 1, mCurrent.size() - 2);
    noteLowered(mCurrentLowered, start);

    TokenViews &tokens = mTokens;
    auto split = [&]() {
        if (!require(mLine, "", start))
            return false;
        const unsigned char lowered = firstLowered(mLine);
        if (mPlain)
            noteLowered(lowered, mLineNumber);
        // Unscrambled: a plain file's lines are left as they are, but for those bytes.
        std::string_view line = mLine;
        if (lowered) {
            unprotectInto(mLine, mUnprotected);
            line = mUnprotected;
        }
        if (!SplitTokens(line, tokens)) {
            fail(mLineNumber, "the line holds more than " + std::to_string(kMaxTokens) + " fields");
            return false;
        }
        return true;
    };
    // The field's name is built only for a message: name, then k when set ("w3").
    auto number = [&](std::size_t field, const char *name, int k, Number::Kind kind,
                      const char *range) {
        if (kind == Number::Ok)
            return true;
        const std::string text(tokens[field]);
        const std::string where = name + (k > 0 ? std::to_string(k) : std::string()) + " (field " +
                                  std::to_string(field + 1) + ")";
        switch (kind) {
        case Number::Ok:
            return true;
        case Number::NotANumber:
            fail(mLineNumber, text.empty() ? where + " is empty"
                                           : where + ": " + quoted(text) + " is not a number");
            return false;
        case Number::OutOfRange:
            fail(mLineNumber, where + ": " + quoted(text) + " lies outside " + range);
            return false;
        }
        return false;
    };
    constexpr const char *k16 = "the range -32768 to 32767";
    constexpr const char *k32 = "the 32-bit range";
    auto whole = [&](std::size_t field, const char *name, std::int16_t &out, int k = 0) {
        return number(field, name, k, toWhole16(tokens[field], &out), k16);
    };
    auto wholes = [&](auto &values, const char *prefix) {
        for (std::size_t i = 0; i < values.size(); ++i)
            if (!whole(i, prefix, values[i], int(i + 1)))
                return false;
        return true;
    };

    if (!split())
        return false;
    r.model = tokens[0];
    r.skin1 = tokens[1];
    r.skin2 = tokens[2];
    if (!whole(3, "decoyskin", r.decoySkin))
        return false;
    if (!split() || !wholes(r.weapons, "w"))
        return false;
    if (!split() || !wholes(r.grenades, "g"))
        return false;
    if (!split() || !whole(0, "max_armor", r.armor) || !whole(1, "max_speed", r.speed) ||
        !whole(2, "max_health", r.health) ||
        !number(3, "the special sum", 0, toSum32(tokens[3], &r.specialSum), k32) ||
        !number(4, "the item sum", 0, toSum32(tokens[4], &r.itemSum), k32))
        return false;
    if (!split())
        return false;
    static const char *const ammo[] = {"maxbullets",  "maxshells", "maxrockets",
                                       "maxgrenades", "maxcells",  "maxslugs"};
    for (std::size_t i = 0; i < r.ammo.size(); ++i)
        if (!whole(i, ammo[i], r.ammo[i]))
            return false;
    ++mClasses;
    return true;
}

void ClassFileReader::takeCurrent()
{
    mCurrentLowered = mPlain ? firstLowered(mLine) : 0;
    unprotectInto(mLine, mCurrent);
}

ClassFileReader::Step ClassFileReader::next(ClassRecord &record)
{
    switch (mState) {
    case State::Failed:
        return Step::Error;
    case State::Done:
        return Step::End;
    case State::Start:
        if (!require(mLine, "the file is empty"))
            return Step::Error;
        mPlain = mLine.starts_with("V3");
        if (!require(mLine, "the file ends after line 1; a class file has at least two lines"))
            return Step::Error;
        if (atEnd()) { // the two header lines alone: no class
            mState = State::Done;
            return Step::End;
        }
        if (!require(mLine, ""))
            return Step::Error;
        takeCurrent();
        mState = State::Reading;
        break;
    case State::Reading:
        break;
    }

    // The current line is examined only while another line follows it.
    while (!atEnd()) {
        bool gotClass = false;
        if (!mCurrent.empty()) {
            if (mCurrent.front() != '[')
                return fail(mLineNumber, "Bad Class Record: " + mCurrent);
            if (!readBlock(record))
                return Step::Error;
            gotClass = true;
            if (atEnd()) {
                mState = State::Done;
                return Step::Class;
            }
        }
        if (!require(mLine, ""))
            return Step::Error;
        takeCurrent();
        if (gotClass)
            return Step::Class;
    }
    mState = State::Done;
    return Step::End;
}

} // namespace tarn::classfile
