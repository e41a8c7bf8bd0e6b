#include "scriptedprompter.h"

namespace tarn
{

namespace
{

template<typename T> bool take(std::deque<T> &queue, T *out)
{
    if (queue.empty())
        return false;
    *out = queue.front();
    queue.pop_front();
    return true;
}

class ScriptedProgress : public Progress
{
public:
    ScriptedProgress(qint64 cancelAt, qint64 *last) : mCancelAt(cancelAt), mLast(last) {}
    bool update(qint64 done) override
    {
        *mLast = done;
        return mCancelAt < 0 || done < mCancelAt;
    }

private:
    qint64 mCancelAt;
    qint64 *mLast;
};

} // namespace

QString ScriptedPrompter::input(const QString &prompt, const QString &title,
                                const QString &defaultText)
{
    mCalls.append({Call::Input, prompt, title, defaultText});
    QString answer;
    if (!take(mInputs, &answer))
        ++mUnexpected;
    return answer;
}

Prompter::Answer ScriptedPrompter::message(const QString &text, Buttons buttons, Icon icon,
                                           Answer defaultAnswer, const QString &title)
{
    mCalls.append({Call::Message, text, title.isEmpty() ? applicationTitle() : title, QString(),
                   buttons, icon, defaultAnswer});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    Answer answer = Answer::No;
    if (!take(mAnswers, &answer))
        ++mUnexpected;
    return answer;
}

QString ScriptedPrompter::openFileName(const QString &filter)
{
    mCalls.append({Call::OpenFile, filter, QString(), QString()});
    QString file;
    if (!take(mFiles, &file))
        ++mUnexpected;
    return file;
}

QString ScriptedPrompter::saveFileName(const QString &filter)
{
    mCalls.append({Call::SaveFile, filter, QString(), QString()});
    QString file;
    if (!take(mFiles, &file))
        ++mUnexpected;
    return file;
}

std::unique_ptr<Progress> ScriptedPrompter::progress(const QString &label, qint64)
{
    mCalls.append({Call::Progress, label, QString(), QString()});
    return std::make_unique<ScriptedProgress>(mCancelAt, &mLastProgress);
}

QStringList ScriptedPrompter::messages() const
{
    QStringList texts;
    for (const Call &call : mCalls)
        if (call.kind == Call::Message)
            texts << call.text;
    return texts;
}

QString ScriptedPrompter::lastMessage() const
{
    const QStringList texts = messages();
    return texts.isEmpty() ? QString() : texts.last();
}

void ScriptedPrompter::beginBusy()
{
    ++mBusyDepth;
    ++mBusyCount;
}

void ScriptedPrompter::endBusy()
{
    --mBusyDepth;
}

} // namespace tarn
