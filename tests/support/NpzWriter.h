#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// Writes .npz archives for tests: .npy arrays in a zip, stored or deflated,
// optionally with zip64 records, and lets a test damage them afterwards.
// It also writes plain zips with Unix permissions, hostile entries included.
namespace NpzWriter {

struct Entry {
    QString name;
    QByteArray data; // the .npy bytes (npy() makes them)
    bool deflated = false;
    quint32 unixMode = 0; // st_mode recorded for a Unix "made by"; 0: none
};

// A .npy file: version 1 unless told otherwise, "<f4" or "<f2".
QByteArray npy(const QList<qint64> &shape, const std::vector<float> &values, bool half = false, int version = 1);
// A zip archive of the entries; zip64 writes every size and offset through
// zip64 fields and records.
QByteArray zip(const QList<Entry> &entries, bool zip64 = false);
bool write(const QString &path, const QByteArray &bytes);

} // namespace NpzWriter
