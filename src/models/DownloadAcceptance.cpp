#include "DownloadAcceptance.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "support/ByteCountFormat.h"
#include "support/FreeSpace.h"

#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <limits>

namespace {

// A length header is digits only: toLongLong() would also take "-5" or " 5".
bool parseCount(const QByteArray &text, qint64 &value)
{
    static const QRegularExpression digits(QStringLiteral("^\\d{1,18}$"));
    if (!digits.match(QString::fromLatin1(text.trimmed())).hasMatch())
        return false;
    value = text.trimmed().toLongLong();
    return true;
}

bool hasSignature(DownloadAcceptance::Format format, const QByteArray &head, qint64 total)
{
    switch (format) {
    case DownloadAcceptance::Format::whisperModel:
        return head.startsWith("lmgg"); // the ggml magic 0x67676d6c, little-endian
    case DownloadAcceptance::Format::gguf:
        return head.startsWith("GGUF");
    case DownloadAcceptance::Format::zip:
        return head.startsWith(QByteArrayLiteral("PK\x03\x04"));
    case DownloadAcceptance::Format::safetensors: {
        // an 8-byte little-endian header length, then the JSON header
        if (head.size() < 9 || head.at(8) != '{')
            return false;
        const quint64 header = qFromLittleEndian<quint64>(head.constData());
        return header >= 2 && (total < 0 || header <= quint64(total) - 8);
    }
    }
    return false;
}

QString kindOfContent(const QByteArray &head)
{
    const QByteArray start = head.trimmed();
    if (start.startsWith('<'))
        return QStringLiteral("HTML");
    for (const char c : head) {
        const auto byte = uchar(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f)
            return QStringLiteral("unrecognised data");
    }
    return QStringLiteral("text");
}

} // namespace

DownloadAcceptance::DownloadAcceptance(Format format, qint64 maximumBytes)
    : m_format(format)
    , m_maximum(maximumBytes)
{
}

DownloadAcceptance DownloadAcceptance::forModel(const ModelDescriptor &model)
{
    const Format format = model.task == ModelTask::speechToText ? Format::whisperModel
                          : model.task == ModelTask::rewrite    ? Format::gguf
                                                                : Format::safetensors;
    if (model.expectedBytes <= 0) // no nominal size: only the announced one bounds the file
        return DownloadAcceptance(format, std::numeric_limits<qint64>::max());
    DownloadAcceptance acceptance(format, 2 * model.expectedBytes);
    acceptance.m_nominal = model.expectedBytes;
    acceptance.m_minimum = qMax(ModelManager::minimumModelBytes, model.expectedBytes * 3 / 4);
    return acceptance;
}

QString DownloadAcceptance::what() const
{
    switch (m_format) {
    case Format::whisperModel:
        return QStringLiteral("a Whisper model");
    case Format::gguf:
        return QStringLiteral("a GGUF model");
    case Format::zip:
        return QStringLiteral("a zip archive");
    case Format::safetensors:
        return QStringLiteral("a safetensors file");
    }
    return {};
}

QString DownloadAcceptance::readHeaders(int status, const QByteArray &contentLength, const QByteArray &contentRange,
                                        Announcement &announcement) const
{
    if (!contentLength.isEmpty() && !parseCount(contentLength, announcement.end))
        return QStringLiteral("The server announced an invalid length (\"%1\").").arg(QString::fromLatin1(contentLength));
    if (status == 206) {
        static const QRegularExpression pattern(QStringLiteral("^bytes\\s+(\\d{1,18})-(\\d{1,18})/(\\d{1,18})$"));
        const auto match = pattern.match(QString::fromLatin1(contentRange.trimmed()));
        if (!match.hasMatch())
            return QStringLiteral("The server sent part of the file without saying which part.");
        announcement.offset = match.captured(1).toLongLong();
        announcement.end = match.captured(2).toLongLong() + 1;
        announcement.total = match.captured(3).toLongLong();
        if (announcement.end <= announcement.offset || announcement.end > announcement.total)
            return QStringLiteral("The server announced an impossible range (\"%1\").")
                .arg(QString::fromLatin1(contentRange));
    } else if (contentLength.isEmpty()) {
        return QStringLiteral("The server did not announce the file's size.");
    } else {
        announcement.offset = 0;
        announcement.total = announcement.end;
    }
    if (announcement.total > m_maximum)
        return checkStart({}, announcement.total);
    return {};
}

QString DownloadAcceptance::checkStart(const QByteArray &head, qint64 total) const
{
    if (!head.isEmpty() && !hasSignature(m_format, head, total)) {
        return QStringLiteral("The server sent %1 of %2 where %3 was expected.")
            .arg(formatByteCount(total >= 0 ? total : head.size()), kindOfContent(head), what());
    }
    if (total >= m_minimum && total <= m_maximum)
        return {};
    if (m_nominal > 0)
        return QStringLiteral("The server offered %1 where %2 of about %3 was expected.")
            .arg(formatByteCount(total), what(), formatByteCount(m_nominal));
    if (total > m_maximum)
        return QStringLiteral("The server offered %1, more than the %2 allowed for %3.")
            .arg(formatByteCount(total), formatByteCount(m_maximum), what());
    return QStringLiteral("The server sent an empty file where %1 was expected.").arg(what());
}

QString DownloadAcceptance::checkComplete(qint64 size, const QByteArray &head, qint64 total) const
{
    if (size != total)
        return QStringLiteral("The connection closed after %1 of %2.").arg(formatByteCount(size), formatByteCount(total));
    return checkStart(head, total);
}

QString DownloadAcceptance::checkRoom(qint64 bytes, const QString &directory)
{
    return FreeSpace::system().checkRoom(QStringLiteral("the download"), bytes, 0, directory);
}

QString DownloadAcceptance::checkFile(const QString &path, qint64 total) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Could not read the downloaded file: %1").arg(file.errorString());
    return checkComplete(file.size(), file.read(signatureBytes), total);
}
