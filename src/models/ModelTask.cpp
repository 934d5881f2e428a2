#include "ModelTask.h"

const QList<std::pair<ModelTask, QString>> &EnumNames<ModelTask>::table()
{
    static const QList<std::pair<ModelTask, QString>> names = {
        {ModelTask::speechToText, QStringLiteral("speechToText")},
        {ModelTask::rewrite, QStringLiteral("rewrite")},
        {ModelTask::textToSpeech, QStringLiteral("textToSpeech")},
    };
    return names;
}
