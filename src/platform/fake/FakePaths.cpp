#include "FakePaths.h"

#include <QDir>

FakePaths::FakePaths() = default;

std::optional<QString> FakePaths::appGroupContainer()
{
    if (!m_containerAvailable)
        return std::nullopt;
    return ensured(QStringLiteral("data/tavrune"));
}

QString FakePaths::containerProblem()
{
    return m_containerAvailable ? QString() : QStringLiteral("switched off by the test");
}

QString FakePaths::applicationSupportDirectory()
{
    return ensured(QStringLiteral("data"));
}

QString FakePaths::documentsDirectory()
{
    return ensured(QStringLiteral("Documents"));
}

QString FakePaths::ensured(const QString &relative) const
{
    const QString path = m_root.filePath(relative);
    QDir().mkpath(path);
    return path;
}
