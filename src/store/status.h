#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace tarn
{

// The outcome of a store or core operation: success, or a message for the user.
class Status
{
public:
    static Status success() { return Status(); }
    static Status failure(QString message) { return Status(std::move(message)); }

    bool ok() const { return !mFailed; }
    explicit operator bool() const { return ok(); }
    const QString &message() const { return mMessage; }

private:
    Status() = default;
    explicit Status(QString message) : mFailed(true), mMessage(std::move(message)) {}

    bool mFailed = false;
    QString mMessage;
};

// A value, or the message that says why there is none.
template<typename T> class Result
{
public:
    Result(T value) : mValue(std::move(value)) {}
    Result(Status failure) : mMessage(failure.message()) {}

    bool ok() const { return mValue.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *mValue; }
    T &value() { return *mValue; }
    const T &operator*() const { return *mValue; }
    const T *operator->() const { return &*mValue; }
    const QString &message() const { return mMessage; }
    Status status() const { return ok() ? Status::success() : Status::failure(mMessage); }

private:
    std::optional<T> mValue;
    QString mMessage;
};

} // namespace tarn
