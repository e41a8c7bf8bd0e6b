// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/prompter.h"

#include <QList>
#include <QStringList>

#include <deque>

namespace tarn
{

// A Prompter for tests: answers come from queues filled beforehand and every
// call is recorded. A call with no answer queued is recorded as unexpected and
// answered with Cancel (empty text, No).
struct ScriptedPrompter : Prompter {
    struct Call {
        enum Kind { Input, Password, Message, Choice, OpenFile, SaveFile, Progress } kind;
        QString text; // prompt, message text or filter
        QString title{};
        Answer defaultAnswer = Answer::Ok;
        QStringList choices{};
    };

    void answerInput(const QString &text) { mInputs.push_back(text); }
    void answerPassword(const QString &text) { mPasswords.push_back(text); }
    void answerMessage(Answer answer) { mAnswers.push_back(answer); }
    void answerFile(const QString &path) { mFiles.push_back(path); }
    void answerChoice(int index) { mChoices.push_back(index); }
    // The progress reports cancel once it reaches this value (-1: never).
    void cancelProgressAt(qint64 value) { mCancelAt = value; }

    QString input(const QString &prompt, const QString &title, const QString &) override
    {
        return record({Call::Input, prompt, title}, mInputs, QString());
    }
    QString password(const QString &prompt, const QString &title) override
    {
        return record({Call::Password, prompt, title}, mPasswords, QString());
    }
    Answer message(const QString &text, Buttons buttons, Icon, Answer defaultAnswer,
                   const QString &title) override
    {
        // A message with the one button Ok needs no answer.
        if (buttons == Buttons::Ok)
            mAnswers.push_front(Answer::Ok);
        return record(
            {Call::Message, text, title.isEmpty() ? applicationTitle() : title, defaultAnswer},
            mAnswers, Answer::No);
    }
    int choose(const QString &text, const QStringList &choices, int, Icon) override
    {
        return record({Call::Choice, text, applicationTitle(), Answer::Ok, choices}, mChoices, -1);
    }
    QString openFileName(const QString &filter) override
    {
        return record({Call::OpenFile, filter}, mFiles, QString());
    }
    QString saveFileName(const QString &filter) override
    {
        return record({Call::SaveFile, filter}, mFiles, QString());
    }
    std::unique_ptr<tarn::Progress> progress(const QString &label, qint64) override
    {
        mCalls.append({Call::Progress, label});
        return std::make_unique<ScriptedProgress>(*this);
    }

    const QList<Call> &calls() const { return mCalls; }
    // The texts of the calls of a kind, in order.
    QStringList texts(Call::Kind kind) const
    {
        QStringList found;
        for (const Call &call : mCalls)
            if (call.kind == kind)
                found << call.text;
        return found;
    }
    QStringList messages() const { return texts(Call::Message); }
    QString lastMessage() const { return messages().value(messages().size() - 1); }
    int unexpectedCalls() const { return mUnexpected; }
    bool allAnswersUsed() const
    {
        return mInputs.empty() && mPasswords.empty() && mAnswers.empty() && mFiles.empty() &&
               mChoices.empty();
    }

    int busyDepth() const { return mBusyDepth; }
    int busyCount() const { return mBusyCount; } // how many times busy was shown
    qint64 lastProgress() const { return mLastProgress; }

protected:
    void beginBusy() override
    {
        ++mBusyDepth;
        ++mBusyCount;
    }
    void endBusy() override { --mBusyDepth; }

private:
    struct ScriptedProgress : tarn::Progress {
        explicit ScriptedProgress(ScriptedPrompter &owner) : owner(owner) {}
        bool update(qint64 done) override
        {
            owner.mLastProgress = done;
            return owner.mCancelAt < 0 || done < owner.mCancelAt;
        }
        ScriptedPrompter &owner;
    };

    // Records the call and gives the next queued answer, or cancel (counted as
    // unexpected) when none is left.
    template<typename T> T record(const Call &call, std::deque<T> &queue, T cancel)
    {
        mCalls.append(call);
        if (queue.empty()) {
            ++mUnexpected;
            return cancel;
        }
        const T answer = queue.front();
        queue.pop_front();
        return answer;
    }

    std::deque<QString> mInputs, mPasswords, mFiles;
    std::deque<Answer> mAnswers;
    std::deque<int> mChoices;
    QList<Call> mCalls;
    int mUnexpected = 0, mBusyDepth = 0, mBusyCount = 0;
    qint64 mCancelAt = -1, mLastProgress = -1;
};

} // namespace tarn
