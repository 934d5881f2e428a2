#include "WhisperModelFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>

#include <cstdint>
#include <optional>

namespace {
constexpr std::uint32_t kMagic = 0x67676d6c; // "ggml"
// whisper.cpp computes this many frequency bins per frame (1 + its 400-point
// FFT / 2) and runs its mel filters over as many as the file says: a file
// with more would have it read and write past its spectrum.
constexpr std::int32_t kFilterBins = 201;

// Elements per block and bytes per block of the tensor types whisper models use.
struct TensorType {
    std::int32_t id;
    std::int64_t blockElements;
    std::int64_t blockBytes;
};
constexpr TensorType kTensorTypes[] = {
    {0, 1, 4}, // f32
    {1, 1, 2}, // f16
    {2, 32, 18}, // q4_0
    {3, 32, 20}, // q4_1
    {6, 32, 22}, // q5_0
    {7, 32, 24}, // q5_1
    {8, 32, 34}, // q8_0
    {10, 256, 84}, // q2_k
    {11, 256, 110}, // q3_k
    {12, 256, 144}, // q4_k
    {13, 256, 176}, // q5_k
    {14, 256, 210}, // q6_k
};

const TensorType *tensorType(std::int32_t id)
{
    for (const TensorType &t : kTensorTypes) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

class Reader {
public:
    explicit Reader(QFile &file)
        : m_file(file)
        , m_size(file.size())
    {
    }

    std::optional<std::int32_t> int32()
    {
        std::int32_t value = 0;
        if (m_file.read(reinterpret_cast<char *>(&value), sizeof value) != sizeof value)
            return std::nullopt;
        return value;
    }

    bool skip(std::int64_t bytes)
    {
        if (bytes < 0 || bytes > remaining())
            return false;
        return m_file.seek(m_file.pos() + bytes);
    }

    std::optional<QByteArray> bytes(std::int64_t count)
    {
        if (count < 0 || count > remaining())
            return std::nullopt;
        QByteArray data = m_file.read(count);
        if (data.size() != count)
            return std::nullopt;
        return data;
    }

    std::int64_t remaining() const { return m_size - m_file.pos(); }

private:
    QFile &m_file;
    std::int64_t m_size;
};

bool inRange(std::int32_t value, std::int32_t low, std::int32_t high)
{
    return value >= low && value <= high;
}

QString listed(const QList<int> &values)
{
    QStringList texts;
    for (int value : values)
        texts.append(QString::number(value));
    if (texts.size() < 2)
        return texts.join(QString());
    const QString last = texts.takeLast();
    return texts.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool hasWidth(const WhisperModelFamily &family, std::int32_t state, std::int32_t heads)
{
    return std::any_of(family.widths.cbegin(), family.widths.cend(), [&](const WhisperModelFamily::Width &width) {
        return width.state == state && width.heads == heads;
    });
}

// Why the header's hyperparameters are not one of the family's shapes; empty when they are.
// h: vocab, audio ctx, audio state, audio heads, audio layers, text ctx,
// text state, text heads, text layers, mels, ftype
QString shapeProblem(const std::int32_t (&h)[11], const WhisperModelFamily &family)
{
    if (!family.vocabularies.contains(h[0]))
        return QStringLiteral("a vocabulary of %1 tokens where Whisper models have %2")
            .arg(h[0])
            .arg(listed(family.vocabularies));
    if (h[1] != family.audioContext)
        return QStringLiteral("an audio context of %1 where Whisper models have %2").arg(h[1]).arg(family.audioContext);
    if (h[5] != family.textContext)
        return QStringLiteral("a text context of %1 where Whisper models have %2").arg(h[5]).arg(family.textContext);
    if (h[2] != h[6] || h[3] != h[7])
        return QStringLiteral("an encoder of width %1 with %2 heads and a decoder of width %3 with %4 heads")
            .arg(h[2]).arg(h[3]).arg(h[6]).arg(h[7]);
    if (!hasWidth(family, h[2], h[3]))
        return QStringLiteral("a width of %1 with %2 heads, which no Whisper model has").arg(h[2]).arg(h[3]);
    if (!inRange(h[4], 1, family.maxLayers) || !inRange(h[8], 1, family.maxLayers))
        return QStringLiteral("%1 encoder and %2 decoder layers where Whisper models have 1 to %3")
            .arg(h[4]).arg(h[8]).arg(family.maxLayers);
    if (!family.melBands.contains(h[9]))
        return QStringLiteral("%1 mel bands where Whisper models have %2").arg(h[9]).arg(listed(family.melBands));
    if (h[10] < 0)
        return QStringLiteral("an unknown weight type (%1)").arg(h[10]);
    return {};
}
} // namespace

QString WhisperModelFile::problemWith(const QString &path, const WhisperModelFamily &family)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: %1").arg(file.errorString());
    Reader in(file);

    std::uint32_t magic = 0;
    if (file.read(reinterpret_cast<char *>(&magic), sizeof magic) != sizeof magic || magic != kMagic)
        return QStringLiteral("not a ggml model (bad magic)");

    // vocab, audio ctx, audio state, audio heads, audio layers, text ctx,
    // text state, text heads, text layers, mels, ftype
    std::int32_t h[11];
    for (std::int32_t &value : h) {
        const auto read = in.int32();
        if (!read)
            return QStringLiteral("truncated in the header");
        value = *read;
    }
    if (const QString shape = shapeProblem(h, family); !shape.isEmpty())
        return shape;

    const auto melCount = in.int32();
    const auto fftCount = in.int32();
    if (!melCount || !fftCount || *melCount != h[9] || !in.skip(std::int64_t(*melCount) * *fftCount * 4))
        return QStringLiteral("damaged mel filters");
    if (*fftCount != kFilterBins)
        return QStringLiteral("mel filters over %1 frequency bins where Whisper models have %2")
            .arg(*fftCount)
            .arg(kFilterBins);

    const auto tokenCount = in.int32();
    if (!tokenCount || !inRange(*tokenCount, 0, 1 << 20))
        return QStringLiteral("damaged vocabulary");
    for (std::int32_t i = 0; i < *tokenCount; ++i) {
        const auto length = in.int32();
        if (!length || !inRange(*length, 0, 1 << 16) || !in.skip(*length))
            return QStringLiteral("truncated in the vocabulary");
    }

    QSet<QByteArray> names;
    while (in.remaining() > 0) {
        const auto dims = in.int32();
        const auto nameLength = in.int32();
        const auto typeId = in.int32();
        if (!dims || !nameLength || !typeId)
            return QStringLiteral("truncated in a tensor header");
        const TensorType *type = tensorType(*typeId);
        if (!inRange(*dims, 1, 4) || !inRange(*nameLength, 1, 1024) || !type)
            return QStringLiteral("damaged tensor header");
        std::int64_t elements = 1;
        for (std::int32_t d = 0; d < *dims; ++d) {
            const auto extent = in.int32();
            if (!extent || !inRange(*extent, 1, 1 << 24))
                return QStringLiteral("damaged tensor shape");
            elements *= *extent;
            if (elements > (std::int64_t(1) << 34))
                return QStringLiteral("damaged tensor shape");
        }
        if (elements % type->blockElements != 0)
            return QStringLiteral("damaged tensor shape");
        const auto name = in.bytes(*nameLength);
        if (!name)
            return QStringLiteral("truncated in a tensor name");
        if (names.contains(*name))
            return QStringLiteral("tensor %1 appears twice").arg(QString::fromUtf8(*name));
        names.insert(*name);
        if (!in.skip(elements / type->blockElements * type->blockBytes))
            return QStringLiteral("truncated in tensor %1").arg(QString::fromUtf8(*name));
    }
    if (names.isEmpty())
        return QStringLiteral("holds no tensors");
    return {};
}
