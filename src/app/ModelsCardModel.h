#pragma once

#include "models/ModelDescriptor.h"
#include "models/ModelDownloadService.h"
#include "support/FutureWatch.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class ModelManager;

// The settings' Models card: its four rows looked up in the catalogue, their
// Installed marks, and downloads started from the rows. Only one download
// runs at a time: a press while one runs does nothing. Why the last one
// failed stays in the status until the next starts. Main thread.
class ModelsCardModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")
    // Maps of "name", "description", "modelId", "inCatalogue" and "installed".
    Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    // Why the last download started here failed; empty once another starts.
    Q_PROPERTY(QString failureText READ failureText NOTIFY failureTextChanged)

public:
    // The catalogue is where rows find their models; tests give their own.
    ModelsCardModel(ModelManager &manager, ModelDownloadService::Factory makeDownloadService,
                    QList<ModelDescriptor> catalogue = ModelDescriptor::all(), QObject *parent = nullptr);

    QVariantList rows() const;
    bool isDownloading() const;
    double downloadProgress() const;
    // The manager's status, "Downloading..." while it has none; after a
    // failed download, its reason.
    QString statusText() const;
    QString failureText() const { return m_failure; }

    Q_INVOKABLE void download(const QString &modelId);

signals:
    void rowsChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void statusTextChanged();
    void failureTextChanged();

private:
    void setFailure(const QString &reason);

    ModelManager &m_manager;
    ModelDownloadService::Factory m_makeDownloadService;
    QList<ModelDescriptor> m_catalogue;
    // The download started here, until its future ends.
    QPointer<ModelDownloadService> m_running;
    QString m_failure; // why the last download failed
    // Last, so that it ends the download's continuations before the service goes.
    Futures::FollowedFutures m_followed;
};
