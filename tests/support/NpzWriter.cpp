#include "NpzWriter.h"

#include <QFile>
#include <QtEndian>
#include <qfloat16.h>

#include <zlib.h>

#include <bit>

namespace {
// Appends each value in little-endian order, in its own width.
template <typename... T>
void le(QByteArray &out, T... values)
{
    ((values = qToLittleEndian(values), out.append(reinterpret_cast<const char *>(&values), sizeof values)), ...);
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
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
    version == 1 ? le(out, quint16(header.size())) : le(out, quint32(header.size()));
    out.append(header);
    for (float v : values)
        half ? le(out, std::bit_cast<quint16>(qfloat16(v))) : le(out, v);
    return out;
}

QByteArray zip(const QList<Entry> &entries, bool zip64)
{
    const quint32 saturated = 0xFFFFFFFF;
    QByteArray out, directory;
    for (const Entry &entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const QByteArray body = entry.deflated ? rawDeflate(entry.data) : entry.data;
        const auto crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(entry.data.constData()), uInt(entry.data.size())));
        const auto offset = quint64(out.size());
        QByteArray extra;
        if (zip64)
            le(extra, quint16(0x0001), quint16(24), quint64(entry.data.size()), quint64(body.size()), offset);
        // version needed, flags, method, time and date, CRC, sizes, name and extra lengths
        auto common = [&](QByteArray &record) {
            le(record, quint16(45), quint16(0), quint16(entry.deflated ? 8 : 0), quint32(0), crc,
               zip64 ? saturated : quint32(body.size()), zip64 ? saturated : quint32(entry.data.size()),
               quint16(name.size()), quint16(extra.size()));
        };
        le(out, quint32(0x04034b50));
        common(out);
        out.append(name).append(extra).append(body);
        le(directory, quint32(0x02014b50), quint16(entry.unixMode ? (3 << 8) | 45 : 45));
        common(directory);
        // comment, disk, internal and external attributes, local header offset
        le(directory, quint16(0), quint16(0), quint16(0), entry.unixMode << 16, zip64 ? saturated : quint32(offset));
        directory.append(name).append(extra);
    }
    const auto directoryOffset = quint64(out.size());
    const auto count = quint64(entries.size());
    out.append(directory);
    if (zip64) {
        const auto recordOffset = quint64(out.size());
        le(out, quint32(0x06064b50), quint64(44), quint16(45), quint16(45), quint32(0), quint32(0), count, count,
           quint64(directory.size()), directoryOffset);
        le(out, quint32(0x07064b50), quint32(0), recordOffset, quint32(1));
    }
    const quint16 shortCount = zip64 ? 0xFFFF : quint16(count);
    le(out, quint32(0x06054b50), quint32(0), shortCount, shortCount, zip64 ? saturated : quint32(directory.size()),
       zip64 ? saturated : quint32(directoryOffset), quint16(0));
    return out;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace NpzWriter
