#pragma once

#include "support/DescribedError.h"

// Why a model download ended without a model.
class ModelDownloadError : public DescribedErrorOf<ModelDownloadError> {
public:
    enum class Kind {
        httpError,
        fileMoveFailed,
        alreadyDownloading,
        maxRetriesExceeded,
        // what arrived is not the model: a page, a cut-off file, a wrong size
        notAModelFile,
        // the partial file could not be opened or written (e.g. a full disk)
        writeFailed,
        // the rest of the file would not fit on the disk
        notEnoughSpace,
        // another download is writing the partial file
        partialFileInUse,
    };

    static ModelDownloadError httpError(int status);
    static ModelDownloadError fileMoveFailed();
    static ModelDownloadError alreadyDownloading();
    static ModelDownloadError maxRetriesExceeded();
    static ModelDownloadError notAModelFile(const QString &whatArrived);
    static ModelDownloadError writeFailed(const QString &reason);
    static ModelDownloadError notEnoughSpace(const QString &figures);
    // `holder` as ExclusiveFileLock names it; empty when unknown.
    static ModelDownloadError partialFileInUse(const QString &partialFile, const QString &holder);

    Kind kind() const { return m_kind; }
    // The HTTP status of an httpError, else 0.
    int status() const { return m_status; }

private:
    ModelDownloadError(Kind kind, QString description, int status = 0)
        : DescribedErrorOf(std::move(description))
        , m_kind(kind)
        , m_status(status)
    {
    }

    Kind m_kind;
    int m_status;
};
