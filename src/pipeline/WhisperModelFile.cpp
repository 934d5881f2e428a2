#include "WhisperModelFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

namespace {
constexpr std::uint32_t kMagic = 0x67676d6c; // "ggml"
// whisper.cpp computes this many frequency bins per frame (1 + its 400-point
// FFT / 2) and runs its mel filters over as many as the file says: a file
// with more would have it read and write past its spectrum.
constexpr std::int32_t kFilterBins = 201;

// The tensor types whisper models use: elements and bytes per block, and the
// header's weight type (ftype) whose matrices are stored in it.
struct TensorType {
    std::int32_t id;
    std::int32_t fileType;
    const char *name;
    std::int64_t blockElements;
    std::int64_t blockBytes;
};
constexpr TensorType kTensorTypes[] = {
    {0, 0, "f32", 1, 4},
    {1, 1, "f16", 1, 2},
    {2, 2, "q4_0", 32, 18},
    {3, 3, "q4_1", 32, 20},
    {6, 8, "q5_0", 32, 22},
    {7, 9, "q5_1", 32, 24},
    {8, 7, "q8_0", 32, 34},
    {10, 10, "q2_k", 256, 84},
    {11, 11, "q3_k", 256, 110},
    {12, 12, "q4_k", 256, 144},
    {13, 13, "q5_k", 256, 176},
    {14, 14, "q6_k", 256, 210},
};
constexpr const TensorType &kF32 = kTensorTypes[0];
constexpr const TensorType &kF16 = kTensorTypes[1];
// A quantised file's ftype carries the quantisation version in its thousands.
constexpr std::int32_t kQuantVersionFactor = 1000;

const TensorType *tensorType(std::int32_t id)
{
    for (const TensorType &t : kTensorTypes) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

// whisper.cpp aborts on a weight type it has no tensor type for.
const TensorType *matrixType(std::int32_t fileType)
{
    if (fileType < 0)
        return nullptr;
    for (const TensorType &t : kTensorTypes) {
        if (t.fileType == fileType % kQuantVersionFactor)
            return &t;
    }
    return nullptr;
}

QString typeName(std::int32_t id)
{
    const TensorType *type = tensorType(id);
    return type ? QString::fromLatin1(type->name) : QStringLiteral("type %1").arg(id);
}

struct Header {
    std::int32_t vocabulary;
    std::int32_t audioContext;
    std::int32_t audioState;
    std::int32_t audioHeads;
    std::int32_t audioLayers;
    std::int32_t textContext;
    std::int32_t textState;
    std::int32_t textHeads;
    std::int32_t textLayers;
    std::int32_t mels;
    std::int32_t fileType;
};

using Extents = std::array<std::int32_t, 4>; // fastest-varying first, unused ones 1

struct ExpectedTensor {
    const TensorType *type;
    Extents extents;
    int order; // as converters write them, so that the first one missing is named
};

// Every tensor whisper.cpp creates for a header, and nothing else: it refuses a
// file with any other name, a missing one, or another size.
class TensorSet {
public:
    TensorSet(const Header &h, const TensorType &matrix)
    {
        const TensorType &conv = matrix.id == kF32.id ? kF32 : kF16;
        const std::int32_t n = h.audioState;
        auto vector = [&](const QByteArray &name, std::int32_t extent = 0) { add(name, kF32, {extent ? extent : n}); };
        auto norm = [&](const QByteArray &prefix) {
            vector(prefix + ".weight");
            vector(prefix + ".bias");
        };
        auto attention = [&](const QByteArray &prefix) {
            for (const char *part : {".query", ".key", ".value", ".out"})
                add(prefix + part + ".weight", matrix, {n, n});
            for (const char *part : {".query", ".value", ".out"})
                vector(prefix + part + ".bias");
        };
        auto block = [&](const QByteArray &prefix, bool crossAttention) {
            norm(prefix + ".attn_ln");
            attention(prefix + ".attn");
            if (crossAttention) {
                norm(prefix + ".cross_attn_ln");
                attention(prefix + ".cross_attn");
            }
            norm(prefix + ".mlp_ln");
            add(prefix + ".mlp.0.weight", matrix, {n, 4 * n});
            vector(prefix + ".mlp.0.bias", 4 * n);
            add(prefix + ".mlp.2.weight", matrix, {4 * n, n});
            vector(prefix + ".mlp.2.bias");
        };

        add("encoder.positional_embedding", kF32, {n, h.audioContext});
        add("encoder.conv1.weight", conv, {3, h.mels, n});
        add("encoder.conv1.bias", kF32, {1, n});
        add("encoder.conv2.weight", conv, {3, n, n});
        add("encoder.conv2.bias", kF32, {1, n});
        for (std::int32_t i = 0; i < h.audioLayers; ++i)
            block("encoder.blocks." + QByteArray::number(i), false);
        norm("encoder.ln_post");

        add("decoder.positional_embedding", kF32, {n, h.textContext});
        add("decoder.token_embedding.weight", matrix, {n, h.vocabulary});
        for (std::int32_t i = 0; i < h.textLayers; ++i)
            block("decoder.blocks." + QByteArray::number(i), true);
        norm("decoder.ln");
    }

    // Takes the tensor off the set; nothing when it is not in it.
    std::optional<ExpectedTensor> take(const QByteArray &name)
    {
        const auto it = m_tensors.constFind(name);
        if (it == m_tensors.cend())
            return std::nullopt;
        const ExpectedTensor tensor = *it;
        m_tensors.erase(it);
        return tensor;
    }
    bool isEmpty() const { return m_tensors.isEmpty(); }
    qsizetype size() const { return m_tensors.size(); }

    QByteArray firstLeft() const
    {
        auto first = m_tensors.cbegin();
        for (auto it = m_tensors.cbegin(); it != m_tensors.cend(); ++it) {
            if (it->order < first->order)
                first = it;
        }
        return first.key();
    }

private:
    void add(const QByteArray &name, const TensorType &type, std::initializer_list<std::int32_t> extents)
    {
        Extents padded{1, 1, 1, 1};
        std::copy(extents.begin(), extents.end(), padded.begin());
        m_tensors.insert(name, {&type, padded, int(m_tensors.size())});
    }

    QHash<QByteArray, ExpectedTensor> m_tensors;
};

QString shapeText(const Extents &extents)
{
    qsizetype used = extents.size();
    while (used > 1 && extents[used - 1] == 1)
        --used;
    QStringList texts;
    for (qsizetype i = 0; i < used; ++i)
        texts.append(QString::number(extents[i]));
    return texts.join(QStringLiteral("×"));
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
QString shapeProblem(const Header &h, const WhisperModelFamily &family)
{
    if (!family.vocabularies.contains(h.vocabulary))
        return QStringLiteral("a vocabulary of %1 tokens where Whisper models have %2")
            .arg(h.vocabulary)
            .arg(listed(family.vocabularies));
    if (h.audioContext != family.audioContext)
        return QStringLiteral("an audio context of %1 where Whisper models have %2")
            .arg(h.audioContext)
            .arg(family.audioContext);
    if (h.textContext != family.textContext)
        return QStringLiteral("a text context of %1 where Whisper models have %2")
            .arg(h.textContext)
            .arg(family.textContext);
    if (h.audioState != h.textState || h.audioHeads != h.textHeads)
        return QStringLiteral("an encoder of width %1 with %2 heads and a decoder of width %3 with %4 heads")
            .arg(h.audioState).arg(h.audioHeads).arg(h.textState).arg(h.textHeads);
    if (!hasWidth(family, h.audioState, h.audioHeads))
        return QStringLiteral("a width of %1 with %2 heads, which no Whisper model has").arg(h.audioState).arg(h.audioHeads);
    if (!inRange(h.audioLayers, 1, family.maxLayers) || !inRange(h.textLayers, 1, family.maxLayers))
        return QStringLiteral("%1 encoder and %2 decoder layers where Whisper models have 1 to %3")
            .arg(h.audioLayers).arg(h.textLayers).arg(family.maxLayers);
    if (!family.melBands.contains(h.mels))
        return QStringLiteral("%1 mel bands where Whisper models have %2").arg(h.mels).arg(listed(family.melBands));
    const TensorType *matrix = matrixType(h.fileType);
    if (!matrix)
        return QStringLiteral("an unknown weight type (%1)").arg(h.fileType);
    // ggml stores a matrix row in whole blocks.
    if (h.audioState % matrix->blockElements != 0)
        return QStringLiteral("%1 weights, which cannot hold a width of %2").arg(QLatin1String(matrix->name)).arg(h.audioState);
    return {};
}

// Why the tensor read from the file is not the one the header calls for.
QString tensorProblem(const QByteArray &name, std::int32_t typeId, const Extents &extents,
                      const std::optional<ExpectedTensor> &expected)
{
    const QString tensor = QString::fromUtf8(name);
    if (!expected)
        return QStringLiteral("an unexpected tensor %1").arg(tensor);
    if (typeId != expected->type->id)
        return QStringLiteral("tensor %1 stored as %2 where the header calls for %3")
            .arg(tensor, typeName(typeId), QLatin1String(expected->type->name));
    if (extents != expected->extents)
        return QStringLiteral("tensor %1 of shape %2 where the header calls for %3")
            .arg(tensor, shapeText(extents), shapeText(expected->extents));
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

    Header h;
    for (std::int32_t *field : {&h.vocabulary, &h.audioContext, &h.audioState, &h.audioHeads, &h.audioLayers,
                                &h.textContext, &h.textState, &h.textHeads, &h.textLayers, &h.mels, &h.fileType}) {
        const auto read = in.int32();
        if (!read)
            return QStringLiteral("truncated in the header");
        *field = *read;
    }
    if (const QString shape = shapeProblem(h, family); !shape.isEmpty())
        return shape;

    const auto melCount = in.int32();
    const auto fftCount = in.int32();
    if (!melCount || !fftCount || *melCount != h.mels || !in.skip(std::int64_t(*melCount) * *fftCount * 4))
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

    // Only headers are read; the data, up to gigabytes, is seeked past.
    TensorSet expected(h, *matrixType(h.fileType));
    QSet<QByteArray> names;
    while (in.remaining() > 0) {
        const auto dims = in.int32();
        const auto nameLength = in.int32();
        const auto typeId = in.int32();
        if (!dims || !nameLength || !typeId)
            return QStringLiteral("truncated in a tensor header");
        if (!inRange(*dims, 1, 4) || !inRange(*nameLength, 1, 1024))
            return QStringLiteral("damaged tensor header");
        Extents extents{1, 1, 1, 1};
        for (std::int32_t d = 0; d < *dims; ++d) {
            const auto extent = in.int32();
            if (!extent)
                return QStringLiteral("truncated in a tensor header");
            extents[d] = *extent;
        }
        const auto name = in.bytes(*nameLength);
        if (!name)
            return QStringLiteral("truncated in a tensor name");
        if (names.contains(*name))
            return QStringLiteral("tensor %1 appears twice").arg(QString::fromUtf8(*name));
        names.insert(*name);
        const std::optional<ExpectedTensor> tensor = expected.take(*name);
        if (const QString problem = tensorProblem(*name, *typeId, extents, tensor); !problem.isEmpty())
            return problem;
        // The extents are the header's, so the product is bounded and rows are whole blocks.
        const std::int64_t elements = std::int64_t(extents[0]) * extents[1] * extents[2] * extents[3];
        if (!in.skip(elements / tensor->type->blockElements * tensor->type->blockBytes))
            return QStringLiteral("truncated in tensor %1").arg(QString::fromUtf8(*name));
    }
    // whisper.cpp loads a file with no tensors at all as an empty model.
    if (names.isEmpty())
        return QStringLiteral("holds no tensors");
    if (!expected.isEmpty()) {
        const QString first = QString::fromUtf8(expected.firstLeft());
        return expected.size() == 1
            ? QStringLiteral("tensor %1 is missing").arg(first)
            : QStringLiteral("tensor %1 and %2 others are missing").arg(first).arg(expected.size() - 1);
    }
    return {};
}
