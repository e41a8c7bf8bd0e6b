// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "classfile/classrecord.h"

#include <functional>
#include <string>
#include <string_view>

namespace tarn::classfile
{

// Writes a class file line by line into a sink: the header, then one block per
// class. It refuses, before writing it, any line that would not read back as
// written: a line break in a text, an empty field (the model name may be
// empty), a space in the model or a skin, a character the variant cannot carry
// (above 127 scrambled, above 128 plain) or a line too long. The two header
// lines are never read back as data: they carry any Latin-1 character, as the
// earlier program wrote them, and are not scrambled above 127.
class ClassFileWriter
{
public:
    // Takes the bytes of one or more whole lines; false when they were not written.
    using Sink = std::function<bool(std::string_view bytes)>;

    ClassFileWriter(Sink sink, bool protect);

    // "V3 " + Mod ID, then the configuration name.
    bool writeHeader(std::string_view modId, std::string_view configName);
    // The empty line, the class line and the five lines of values.
    bool writeClass(const ClassRecord &record);

    // Why the last call returned false: the field (a classdef column, "Mod ID"
    // or "configuration name"; empty for the class as a whole) and the cause,
    // UTF-8, to follow the field's name ("holds a space").
    struct Refusal {
        std::string field;
        std::string cause;
    };
    const Refusal &refusal() const { return mError; }
    // The field and the cause in one text.
    std::string error() const;
    // True when the sink failed, not a refusal.
    bool sinkFailed() const { return mSinkFailed; }

private:
    bool refuse(std::string field, std::string cause);
    // Empty when the text may stand in a line, else why not; limit is the
    // highest character code the line may carry.
    std::string checkText(std::string_view text, bool mayBeEmpty, bool mayHoldSpace,
                          unsigned limit) const;
    void addLine(std::string_view line);
    bool flush();

    Sink mSink;
    bool mProtect;
    std::string mBuffer;
    std::string mLine; // the line being built, kept for its capacity
    Refusal mError;
    bool mSinkFailed = false;
};

} // namespace tarn::classfile
