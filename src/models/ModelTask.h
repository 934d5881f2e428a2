#pragma once

#include "support/EnumNames.h"

#include <QString>

// What a catalogue model is for; stored by case name.
enum class ModelTask {
    speechToText,
    rewrite,
    textToSpeech,
};

template <>
struct EnumNames<ModelTask> {
    static const QList<std::pair<ModelTask, QString>> &table();
};
