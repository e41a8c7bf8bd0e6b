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
class ScriptedPrompter : public Prompter
{
public:
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

    QString input(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString password(const QString &prompt, const QString &title) override;
    Answer message(const QString &text, Buttons buttons, Icon icon, Answer defaultAnswer,
                   const QString &title) override;
    int choose(const QString &text, const QStringList &choices, int defaultChoice,
               Icon icon) override;
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &filter) override;
    std::unique_ptr<tarn::Progress> progress(const QString &label, qint64 maximum) override;

    const QList<Call> &calls() const { return mCalls; }
    QStringList messages() const; // texts of the message boxes, in order
    QString lastMessage() const;
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
    void beginBusy() override;
    void endBusy() override;

private:
    // The next queued answer, or cancel (counted as unexpected) when none is left.
    template<typename T> T next(std::deque<T> &queue, T cancel);

    std::deque<QString> mInputs;
    std::deque<QString> mPasswords;
    std::deque<Answer> mAnswers;
    std::deque<QString> mFiles;
    std::deque<int> mChoices;
    QList<Call> mCalls;
    int mUnexpected = 0;
    int mBusyDepth = 0;
    int mBusyCount = 0;
    qint64 mCancelAt = -1;
    qint64 mLastProgress = -1;
};

} // namespace tarn
