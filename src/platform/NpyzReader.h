#pragma once

#include <QFile>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One array of a .npy file: its shape and its values in C order.
struct NpyArray {
    QList<qint64> shape;
    std::vector<float> values;
};

// Reads the arrays of a NumPy .npz archive (a zip of .npy files, zip64
// included) one entry at a time: reading an entry touches no other.
// Entries may be stored or deflated; each is checked against its CRC-32.
// Arrays must be little-endian float32 or float16 in C order. Anything
// else, or a damaged archive, gives an error message and no data.
class NpyzReader {
public:
    // Larger entries are refused before anything is allocated for them; a
    // voice embedding is well under a megabyte.
    static constexpr qint64 maxEntryBytes = 64LL * 1024 * 1024;

    explicit NpyzReader(const QString &path);

    // Reads the archive's directory; false, with errorString(), when the
    // file cannot be read as a zip archive.
    bool open();
    // Entry names in directory order, such as "bm_george.npy".
    QStringList entryNames() const { return m_names; }
    // The array stored under name; none, with errorString(), when it is
    // missing or broken.
    std::optional<NpyArray> read(const QString &name);
    QString errorString() const { return m_error; }

    // The array in the bytes of a .npy file; none with *error otherwise.
    static std::optional<NpyArray> parseNpy(const QByteArray &bytes, QString *error);

private:
    struct Entry {
        quint16 flags = 0;
        quint16 method = 0;
        quint32 crc = 0;
        quint64 compressedSize = 0;
        quint64 size = 0;
        quint64 localHeaderOffset = 0;
    };

    bool fail(const QString &message);
    bool readDirectory();
    std::optional<QByteArray> readEntryData(const QString &name, const Entry &entry);
    QByteArray readAt(quint64 offset, qint64 length);

    QFile m_file;
    qint64 m_fileSize = 0;
    QStringList m_names;
    QHash<QString, Entry> m_entries;
    QString m_error;
};
