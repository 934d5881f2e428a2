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
// runs at a time: a press while one runs does nothing. Why downloads failed,
// these and those the application ran on its own, stays in the status until
// the same file is tried again. Main thread.
class ModelsCardModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")
    // Maps of "name", "description", "modelId", "inCatalogue" and "installed".
    Q_PROPERTY(QVariantList rows READ rows NOTIFY rowsChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    // The manager's download failures, one line each.
    Q_PROPERTY(QString failureText READ failureText NOTIFY failureTextChanged)

public:
    // The catalogue is where rows find their models; tests give their own.
    ModelsCardModel(ModelManager &manager, ModelDownloadService::Factory makeDownloadService,
                    QList<ModelDescriptor> catalogue = ModelDescriptor::all(), QObject *parent = nullptr);

    QVariantList rows() const;
    bool isDownloading() const;
    double downloadProgress() const;
    // The manager's status, "Downloading..." while it has none; when no
    // download runs, why downloads failed.
    QString statusText() const;
    QString failureText() const;

    Q_INVOKABLE void download(const QString &modelId);

signals:
    void rowsChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void statusTextChanged();
    void failureTextChanged();

private:
    ModelManager &m_manager;
    ModelDownloadService::Factory m_makeDownloadService;
    QList<ModelDescriptor> m_catalogue;
    // The download started here, until its future ends.
    QPointer<ModelDownloadService> m_running;
    // Last, so that it ends the download's continuations before the service goes.
    Futures::FollowedFutures m_followed;
};
