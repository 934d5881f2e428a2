#pragma once

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// The fixed choices and derived texts of the settings screen, in the form its
// views bind to. Picker items are maps of "text" and "value" (the stored case
// name the menu-bar view model takes).
class SettingsChoices : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QVariantList transcriptionModes READ transcriptionModes CONSTANT)
    Q_PROPERTY(QVariantList languages READ languages CONSTANT)
    Q_PROPERTY(QVariantList rewriteStyles READ rewriteStyles CONSTANT)

public:
    using QObject::QObject;

    // Each also carries its "tag": the mode's position among all modes.
    static QVariantList transcriptionModes();
    static QVariantList languages();
    static QVariantList rewriteStyles();

    // Position of the item with this value; -1 when none shows it.
    Q_INVOKABLE static int indexOfValue(const QVariantList &items, const QString &value);
    Q_INVOKABLE static QString voiceDisplayName(const QString &id);
    // Maps of "header" and "voices" (a list of ids).
    Q_INVOKABLE static QVariantList voiceSections(const QStringList &availableVoices);
    // The voice picker's items: each section's header (with "header" true)
    // followed by its voices; one placeholder item for the selected voice
    // while there are none.
    Q_INVOKABLE static QVariantList voicePickerItems(const QStringList &availableVoices, const QString &selectedVoice,
                                                     bool neuralAvailable);
    // The line under the voice label. Without a neural engine it says so
    // instead of waiting for voices that never come.
    Q_INVOKABLE static QString voiceStatusLine(bool modelLoaded, bool neuralAvailable, const QString &selectedVoice);
    // Preview speaks the neural voice once loaded, else the system voice when
    // no neural engine exists; never while speaking.
    Q_INVOKABLE static bool previewEnabled(bool modelLoaded, bool neuralAvailable, bool speaking);
};
