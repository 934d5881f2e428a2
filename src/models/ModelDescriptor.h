#pragma once

#include "models/ModelTask.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One downloadable model file. The catalogue is fixed: the four entries below,
// in the order the settings list shows them.
struct ModelDescriptor {
    QString id; // the file name inside the models directory
    ModelTask task = ModelTask::speechToText;
    QString name;
    QString version;
    QUrl downloadURL;
    QString checksumSHA256; // empty everywhere; nothing compares it
    qint64 expectedBytes = 0; // nominal size, for progress only
    QString licenseName;
    QUrl licenseURL;

    friend bool operator==(const ModelDescriptor &, const ModelDescriptor &) = default;

    // An object with one key per field, named like the field.
    QJsonObject toJson() const;
    // None when a key is missing, has the wrong type, or names no task.
    static std::optional<ModelDescriptor> fromJson(const QJsonObject &json);

    static const ModelDescriptor &whisperBase();
    static const ModelDescriptor &whisperLargeV3();
    static const ModelDescriptor &qwenRewrite();
    static const ModelDescriptor &kokoroTTS();
    static const QList<ModelDescriptor> &all();
};
