#include "TranscriptionModePicker.h"

namespace TranscriptionModePicker {

QList<Item> items()
{
    QList<Item> result;
    const QList<ASRModelPreference> modes = Enums::allCases<ASRModelPreference>();
    for (int tag = 0; tag < modes.size(); ++tag) {
        if (const auto text = ASRModelPreferences::pickerLabel(modes[tag]))
            result.append({*text, tag, modes[tag]});
    }
    return result;
}

int indexOf(ASRModelPreference preference)
{
    const QList<Item> all = items();
    for (int i = 0; i < all.size(); ++i) {
        if (all[i].preference == preference)
            return i;
    }
    return -1;
}

} // namespace TranscriptionModePicker
