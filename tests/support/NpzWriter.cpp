#include "NpzWriter.h"

#include <QFile>
#include <QtEndian>
#include <qfloat16.h>

#include <zlib.h>

#include <bit>

namespace {
template <typename T>
void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}
} // namespace

namespace NpzWriter {

QByteArray npy(const QList<qint64> &shape, const std::vector<float> &values, bool half, int version)
{
    QStringList dims;
    for (qint64 d : shape)
        dims << QString::number(d);
    QByteArray header = QStringLiteral("{'descr': '%1', 'fortran_order': False, 'shape': (%2%3), }")
                            .arg(half ? QStringLiteral("<f2") : QStringLiteral("<f4"), dims.join(QStringLiteral(", ")),
                                 shape.size() == 1 ? QStringLiteral(",") : QString())
                            .toLatin1();
    const int prefix = version == 1 ? 10 : 12;
    header.append(QByteArray(63 - (prefix + header.size()) % 64, ' ')).append('\n');
    QByteArray out("\x93NUMPY", 6);
    out.append(char(version)).append(char(0));
    if (version == 1)
        put<quint16>(out, quint16(header.size()));
    else
        put<quint32>(out, quint32(header.size()));
    out.append(header);
    for (float v : values) {
        if (half)
            put<quint16>(out, std::bit_cast<quint16>(qfloat16(v)));
        else
            put<float>(out, v);
    }
    return out;
}

QByteArray zip(const QList<Entry> &entries, bool zip64)
{
    QByteArray out;
    QByteArray directory;
    const quint32 saturated = 0xFFFFFFFF;
    for (const Entry &entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const QByteArray body = entry.deflated ? rawDeflate(entry.data) : entry.data;
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(entry.data.constData()), uInt(entry.data.size())));
        const quint64 offset = quint64(out.size());
        QByteArray extra;
        if (zip64) {
            put<quint16>(extra, 0x0001);
            put<quint16>(extra, 24);
            put<quint64>(extra, quint64(entry.data.size()));
            put<quint64>(extra, quint64(body.size()));
            put<quint64>(extra, offset);
        }
        auto common = [&](QByteArray &record) {
            put<quint16>(record, 45);                            // version needed
            put<quint16>(record, 0);                             // flags
            put<quint16>(record, entry.deflated ? 8 : 0);        // method
            put<quint32>(record, 0);                             // time, date
            put<quint32>(record, crc);
            put<quint32>(record, zip64 ? saturated : quint32(body.size()));
            put<quint32>(record, zip64 ? saturated : quint32(entry.data.size()));
            put<quint16>(record, quint16(name.size()));
            put<quint16>(record, quint16(extra.size()));
        };
        put<quint32>(out, 0x04034b50);
        common(out);
        out.append(name).append(extra).append(body);

        put<quint32>(directory, 0x02014b50);
        put<quint16>(directory, 45); // version made by
        common(directory);
        put<quint16>(directory, 0);  // comment
        put<quint16>(directory, 0);  // disk
        put<quint16>(directory, 0);  // internal attributes
        put<quint32>(directory, 0);  // external attributes
        put<quint32>(directory, zip64 ? saturated : quint32(offset));
        directory.append(name).append(extra);
    }
    const quint64 directoryOffset = quint64(out.size());
    out.append(directory);
    if (zip64) {
        const quint64 recordOffset = quint64(out.size());
        put<quint32>(out, 0x06064b50);
        put<quint64>(out, 44);
        put<quint16>(out, 45);
        put<quint16>(out, 45);
        put<quint32>(out, 0);
        put<quint32>(out, 0);
        put<quint64>(out, quint64(entries.size()));
        put<quint64>(out, quint64(entries.size()));
        put<quint64>(out, quint64(directory.size()));
        put<quint64>(out, directoryOffset);
        put<quint32>(out, 0x07064b50);
        put<quint32>(out, 0);
        put<quint64>(out, recordOffset);
        put<quint32>(out, 1);
    }
    put<quint32>(out, 0x06054b50);
    put<quint32>(out, 0); // disk numbers
    put<quint16>(out, zip64 ? 0xFFFF : quint16(entries.size()));
    put<quint16>(out, zip64 ? 0xFFFF : quint16(entries.size()));
    put<quint32>(out, zip64 ? saturated : quint32(directory.size()));
    put<quint32>(out, zip64 ? saturated : quint32(directoryOffset));
    put<quint16>(out, 0);
    return out;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace NpzWriter
