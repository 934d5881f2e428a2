#pragma once

#include "pipeline/ASRModelPreference.h"

#include <QList>
#include <QString>

// The items of the settings' transcription mode picker. Two stored modes have
// no item: while one of them is chosen, no item shows as selected.
namespace TranscriptionModePicker {

struct Item {
    QString text;
    // The mode's position among all modes, as stored by earlier versions.
    int tag = 0;
    ASRModelPreference preference{};
};

QList<Item> items();
// The position in items() of the item for preference; -1 when it has none.
int indexOf(ASRModelPreference preference);

} // namespace TranscriptionModePicker
