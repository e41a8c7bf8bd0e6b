// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace tarn
{

// What kind of failure a Status reports, so that callers and tests decide by
// it and never by the words of a message (which an engine may translate).
enum class Fault {
    None,           // success
    Locked,         // another writer holds the lock past the wait
    ConnectionLost, // the server went or stopped answering; the next command connects again
    NeedsPassword,  // the server asks for a password: none was given, or it was refused
    NotFound,       // no such configuration, file, table or database
    Exists,         // the name or file is taken
    Refused,        // the input breaks a rule: a name, a value, an address, a permission
    InputOutput,    // the disk or the system failed: full, unreadable, not writable
    Damaged,        // a file or database is not what it should be
    Cancelled,      // the user stopped the command
    Other,          // anything else the engine reports
};

// The outcome of a store or core operation: success, or a message for the user
// with the kind of failure.
class Status
{
public:
    static Status success() { return Status(); }
    static Status failure(Fault fault, QString message)
    {
        return Status(fault == Fault::None ? Fault::Other : fault, std::move(message));
    }

    bool ok() const { return mFault == Fault::None; }
    explicit operator bool() const { return ok(); }
    Fault fault() const { return mFault; }
    const QString &message() const { return mMessage; }

    // The same failure, led by what the command was doing: "what\nmessage".
    Status under(const QString &what) const
    {
        if (ok() || what.isEmpty())
            return *this;
        return Status(mFault, what + QLatin1Char('\n') + mMessage);
    }

private:
    Status() = default;
    Status(Fault fault, QString message) : mFault(fault), mMessage(std::move(message)) {}

    Fault mFault = Fault::None;
    QString mMessage;
};

// A value, or the failure that says why there is none.
template<typename T> class Result
{
public:
    Result(T value) : mValue(std::move(value)) {}
    Result(Status failure) : mStatus(std::move(failure)) {}

    bool ok() const { return mValue.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *mValue; }
    T &value() { return *mValue; }
    const T &operator*() const { return *mValue; }
    T &operator*() { return *mValue; }
    const T *operator->() const { return &*mValue; }
    T *operator->() { return &*mValue; }
    const QString &message() const { return mStatus.message(); }
    Fault fault() const { return ok() ? Fault::None : mStatus.fault(); }
    Status status() const { return ok() ? Status::success() : mStatus; }

private:
    std::optional<T> mValue;
    Status mStatus = Status::success();
};

} // namespace tarn
