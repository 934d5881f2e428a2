#include "NpyzReader.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <qfloat16.h>

#include <zlib.h>

#include <limits>

namespace {
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kZip64EndOfDirectory = 0x06064b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr int kEndOfDirectorySize = 22;
constexpr int kCentralHeaderSize = 46;
constexpr int kLocalHeaderSize = 30;
constexpr int kZip64LocatorSize = 20;
constexpr int kZip64EndOfDirectorySize = 56;
constexpr qint64 kMaxComment = 0xFFFF;
// A directory this large belongs to no voice archive.
constexpr qint64 kMaxDirectoryBytes = 16LL * 1024 * 1024;
constexpr qint64 kInflateInput = 64 * 1024;
constexpr quint64 kMaxHeaderBytes = 64 * 1024;

// Little-endian field reader over a byte range that never reads past its end.
class Fields {
public:
    Fields(const QByteArray &bytes, qsizetype offset = 0)
        : m_bytes(bytes)
        , m_pos(offset)
    {
    }
    bool has(qsizetype count) const { return m_pos >= 0 && m_pos + count <= m_bytes.size(); }
    template <typename T>
    T take()
    {
        if (!has(qsizetype(sizeof(T)))) {
            m_pos = m_bytes.size() + 1;
            return 0;
        }
        const T value = qFromLittleEndian<T>(m_bytes.constData() + m_pos);
        m_pos += sizeof(T);
        return value;
    }
    QByteArray takeBytes(qsizetype count)
    {
        if (!has(count)) {
            m_pos = m_bytes.size() + 1;
            return {};
        }
        const QByteArray out = m_bytes.mid(m_pos, count);
        m_pos += count;
        return out;
    }
    void skip(qsizetype count) { m_pos = has(count) ? m_pos + count : m_bytes.size() + 1; }
    bool ok() const { return m_pos <= m_bytes.size(); }
    qsizetype position() const { return m_pos; }

private:
    const QByteArray &m_bytes;
    qsizetype m_pos;
};

constexpr quint32 kUnknown32 = 0xFFFFFFFF;
constexpr quint16 kUnknown16 = 0xFFFF;
} // namespace

NpyzReader::NpyzReader(const QString &path)
    : m_file(path)
{
}

bool NpyzReader::fail(const QString &message)
{
    m_error = QStringLiteral("%1: %2").arg(QFileInfo(m_file.fileName()).fileName(), message);
    return false;
}

QByteArray NpyzReader::readAt(quint64 offset, qint64 length)
{
    if (length < 0 || offset > quint64(m_fileSize) || quint64(length) > quint64(m_fileSize) - offset)
        return {};
    if (!m_file.seek(qint64(offset)))
        return {};
    QByteArray bytes = m_file.read(length);
    return bytes.size() == length ? bytes : QByteArray();
}

bool NpyzReader::open()
{
    m_names.clear();
    m_entries.clear();
    m_error.clear();
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly))
        return fail(m_file.errorString());
    m_fileSize = m_file.size();
    if (!readDirectory()) {
        m_names.clear();
        m_entries.clear();
        return false;
    }
    return true;
}

bool NpyzReader::readDirectory()
{
    const qint64 tailSize = qMin<qint64>(m_fileSize, kEndOfDirectorySize + kMaxComment);
    const QByteArray tail = readAt(quint64(m_fileSize - tailSize), tailSize);
    if (tailSize < kEndOfDirectorySize || tail.isEmpty())
        return fail(QStringLiteral("not a zip archive (too short)"));
    qsizetype end = -1;
    for (qsizetype at = tail.size() - kEndOfDirectorySize; at >= 0; --at) {
        if (qFromLittleEndian<quint32>(tail.constData() + at) == kEndOfDirectory) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return fail(QStringLiteral("not a zip archive (no end of central directory)"));
    const quint64 endOffset = quint64(m_fileSize - tailSize + end);

    Fields eocd(tail, end + 4);
    eocd.skip(6); // disk numbers, entries on this disk
    quint64 count = eocd.take<quint16>();
    quint64 directorySize = eocd.take<quint32>();
    quint64 directoryOffset = eocd.take<quint32>();

    const bool zip64 = endOffset >= kZip64LocatorSize
        && qFromLittleEndian<quint32>(readAt(endOffset - kZip64LocatorSize, 4).leftJustified(4, '\0').constData())
            == kZip64Locator;
    if (zip64) {
        const QByteArray locator = readAt(endOffset - kZip64LocatorSize, kZip64LocatorSize);
        Fields loc(locator, 8);
        const quint64 recordOffset = loc.take<quint64>();
        const QByteArray record = readAt(recordOffset, kZip64EndOfDirectorySize);
        Fields z(record);
        if (record.isEmpty() || z.take<quint32>() != kZip64EndOfDirectory)
            return fail(QStringLiteral("broken zip64 end of central directory"));
        z.skip(8 + 2 + 2 + 4 + 4 + 8);
        count = z.take<quint64>();
        directorySize = z.take<quint64>();
        directoryOffset = z.take<quint64>();
    } else if (count == kUnknown16 || directorySize == kUnknown32 || directoryOffset == kUnknown32) {
        return fail(QStringLiteral("zip64 archive without its zip64 records"));
    }

    if (directoryOffset > endOffset || directorySize > endOffset - directoryOffset
        || qint64(directorySize) > kMaxDirectoryBytes || count > directorySize / kCentralHeaderSize)
        return fail(QStringLiteral("central directory lies outside the file"));
    const QByteArray directory = readAt(directoryOffset, qint64(directorySize));
    if (directory.size() != qsizetype(directorySize))
        return fail(QStringLiteral("cannot read the central directory"));

    Fields f(directory);
    for (quint64 i = 0; i < count; ++i) {
        if (f.take<quint32>() != kCentralHeader)
            return fail(QStringLiteral("broken central directory record"));
        Entry entry;
        f.skip(4); // versions
        entry.flags = f.take<quint16>();
        entry.method = f.take<quint16>();
        f.skip(4); // time, date
        entry.crc = f.take<quint32>();
        entry.compressedSize = f.take<quint32>();
        entry.size = f.take<quint32>();
        const quint16 nameLength = f.take<quint16>();
        const quint16 extraLength = f.take<quint16>();
        const quint16 commentLength = f.take<quint16>();
        f.skip(8); // disk, attributes
        entry.localHeaderOffset = f.take<quint32>();
        const QString name = QString::fromUtf8(f.takeBytes(nameLength));
        const QByteArray extra = f.takeBytes(extraLength);
        f.skip(commentLength);
        if (!f.ok())
            return fail(QStringLiteral("truncated central directory"));

        // zip64 sizes and offset replace the fields that were saturated
        Fields x(extra);
        while (x.has(4)) {
            const quint16 id = x.take<quint16>();
            const quint16 length = x.take<quint16>();
            if (id != 0x0001) {
                x.skip(length);
                continue;
            }
            const QByteArray block = x.takeBytes(length);
            Fields b(block);
            if (entry.size == kUnknown32)
                entry.size = b.take<quint64>();
            if (entry.compressedSize == kUnknown32)
                entry.compressedSize = b.take<quint64>();
            if (entry.localHeaderOffset == kUnknown32)
                entry.localHeaderOffset = b.take<quint64>();
            if (!b.ok())
                return fail(QStringLiteral("broken zip64 field of %1").arg(name));
        }
        if (!m_entries.contains(name))
            m_names << name;
        m_entries.insert(name, entry);
    }
    return true;
}

std::optional<QByteArray> NpyzReader::readEntryData(const QString &name, const Entry &entry)
{
    auto failed = [&](const QString &why) {
        fail(QStringLiteral("entry %1: %2").arg(name, why));
        return std::nullopt;
    };
    if (entry.flags & 0x1)
        return failed(QStringLiteral("encrypted entries are not supported"));
    if (entry.method != 0 && entry.method != 8)
        return failed(QStringLiteral("compression method %1 is not supported").arg(entry.method));
    if (entry.size > quint64(maxEntryBytes))
        return failed(QStringLiteral("%1 bytes is more than an entry may hold").arg(entry.size));

    // deflate expands at most about 1032 to 1: a larger claim is a lie
    if (entry.method == 8 && entry.size > entry.compressedSize * 1032 + 1024)
        return failed(QStringLiteral("declared size is impossible for its compressed data"));

    const QByteArray local = readAt(entry.localHeaderOffset, kLocalHeaderSize);
    Fields h(local);
    if (local.isEmpty() || h.take<quint32>() != kLocalHeader)
        return failed(QStringLiteral("broken local header"));
    h.skip(22);
    const quint64 dataOffset = entry.localHeaderOffset + kLocalHeaderSize + h.take<quint16>() + h.take<quint16>();
    if (dataOffset > quint64(m_fileSize) || entry.compressedSize > quint64(m_fileSize) - dataOffset)
        return failed(QStringLiteral("data extends beyond the end of the file"));

    QByteArray data;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.size)
            return failed(QStringLiteral("stored sizes disagree"));
        data = readAt(dataOffset, qint64(entry.size));
        if (data.size() != qsizetype(entry.size))
            return failed(QStringLiteral("truncated data"));
    } else {
        data.resize(qsizetype(entry.size));
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            return failed(QStringLiteral("cannot start decompression"));
        stream.next_out = reinterpret_cast<Bytef *>(data.data());
        stream.avail_out = uInt(data.size());
        quint64 consumed = 0;
        int status = Z_OK;
        QByteArray input;
        // An output buffer of exactly the declared size: a stream that wants
        // more is lying about its size and stops here.
        while (status == Z_OK) {
            if (stream.avail_in == 0) {
                const qint64 piece = qint64(qMin<quint64>(kInflateInput, entry.compressedSize - consumed));
                if (piece == 0)
                    break;
                input = readAt(dataOffset + consumed, piece);
                if (input.size() != piece)
                    break;
                consumed += quint64(piece);
                stream.next_in = reinterpret_cast<Bytef *>(input.data());
                stream.avail_in = uInt(piece);
            }
            status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR && stream.avail_out == 0)
                break;
        }
        const quint64 produced = stream.total_out;
        inflateEnd(&stream);
        if (status != Z_STREAM_END || produced != entry.size)
            return failed(QStringLiteral("compressed data is damaged or does not match its size"));
    }
    const quint32 crc = quint32(
        crc32_z(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()), size_t(data.size())));
    if (crc != entry.crc)
        return failed(QStringLiteral("CRC mismatch"));
    return data;
}

std::optional<NpyArray> NpyzReader::read(const QString &name)
{
    m_error.clear();
    const auto found = m_entries.constFind(name);
    if (found == m_entries.cend()) {
        fail(QStringLiteral("no entry %1").arg(name));
        return std::nullopt;
    }
    const std::optional<QByteArray> data = readEntryData(name, *found);
    if (!data)
        return std::nullopt;
    QString error;
    std::optional<NpyArray> array = parseNpy(*data, &error);
    if (!array)
        fail(QStringLiteral("entry %1: %2").arg(name, error));
    return array;
}

std::optional<NpyArray> NpyzReader::parseNpy(const QByteArray &bytes, QString *error)
{
    auto failed = [error](const QString &why) {
        *error = why;
        return std::nullopt;
    };
    if (bytes.size() < 10 || !bytes.startsWith("\x93NUMPY"))
        return failed(QStringLiteral("not a .npy array"));
    const int major = quint8(bytes[6]);
    if (major < 1 || major > 3)
        return failed(QStringLiteral(".npy format version %1 is not supported").arg(major));
    const qsizetype lengthSize = major == 1 ? 2 : 4;
    if (bytes.size() < 8 + lengthSize)
        return failed(QStringLiteral("truncated .npy header"));
    const quint64 headerLength = major == 1 ? qFromLittleEndian<quint16>(bytes.constData() + 8)
                                            : qFromLittleEndian<quint32>(bytes.constData() + 8);
    const qsizetype headerStart = 8 + lengthSize;
    // real headers are a few dozen bytes; a huge one is not worth parsing
    if (headerLength > kMaxHeaderBytes || headerLength > quint64(bytes.size() - headerStart))
        return failed(QStringLiteral("truncated .npy header"));
    const QByteArray rawHeader = bytes.mid(headerStart, qsizetype(headerLength));
    const QString header = major == 3 ? QString::fromUtf8(rawHeader) : QString::fromLatin1(rawHeader);

    static const QRegularExpression descrPattern(QStringLiteral("['\"]descr['\"]\\s*:\\s*['\"]([^'\"]*)['\"]"));
    static const QRegularExpression orderPattern(QStringLiteral("['\"]fortran_order['\"]\\s*:\\s*(True|False)"));
    static const QRegularExpression shapePattern(QStringLiteral("['\"]shape['\"]\\s*:\\s*\\(([^)]*)\\)"));
    const auto descr = descrPattern.match(header);
    const auto order = orderPattern.match(header);
    const auto shapeText = shapePattern.match(header);
    if (!descr.hasMatch() || !order.hasMatch() || !shapeText.hasMatch())
        return failed(QStringLiteral("unreadable .npy header"));
    if (order.captured(1) == QLatin1String("True"))
        return failed(QStringLiteral("Fortran-ordered arrays are not supported"));
    const QString type = descr.captured(1);
    int itemSize = 0;
    if (type == QLatin1String("<f4"))
        itemSize = 4;
    else if (type == QLatin1String("<f2"))
        itemSize = 2;
    else
        return failed(QStringLiteral("element type %1 is not supported (little-endian float32 or float16 only)")
                          .arg(type));

    NpyArray array;
    quint64 count = 1;
    for (const QString &piece : shapeText.captured(1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 dimension = piece.trimmed().toLongLong(&ok);
        if (!ok || dimension < 0)
            return failed(QStringLiteral("bad shape in .npy header"));
        if (dimension > 0 && count > std::numeric_limits<quint64>::max() / quint64(dimension))
            return failed(QStringLiteral("shape does not match the data"));
        count *= quint64(dimension);
        array.shape << dimension;
    }
    const quint64 dataSize = quint64(bytes.size() - headerStart) - headerLength;
    if (count > dataSize / quint64(itemSize) || count * quint64(itemSize) != dataSize)
        return failed(QStringLiteral("shape does not match the data"));

    const char *data = bytes.constData() + headerStart + qsizetype(headerLength);
    array.values.resize(size_t(count));
    for (quint64 i = 0; i < count; ++i) {
        if (itemSize == 4) {
            array.values[i] = qFromLittleEndian<float>(data + i * 4);
        } else {
            array.values[i] = float(qFromLittleEndian<qfloat16>(data + i * 2));
        }
    }
    return array;
}
