#include "pipeline/DictationSessionCoordinator.h"

#include <QFuture>

#include <stdexcept>

QString DictationSessionCoordinator::activeDictationModeName() const
{
    return m_activeDictationMode == DictationMode::hold ? QStringLiteral("hold") : QStringLiteral("toggle");
}

void DictationSessionCoordinator::setActiveDictationMode(DictationMode mode)
{
    if (m_activeDictationMode == mode)
        return;
    m_activeDictationMode = mode;
    emit activeDictationModeChanged();
}

ModelManager &DictationSessionCoordinator::modelManager() const
{
    throw std::logic_error("the coordinator is not wired yet");
}

void DictationSessionCoordinator::toggleDictation()
{
    if (m_isDictating)
        stopDictation();
    else
        startDictation();
}

QFuture<void> DictationSessionCoordinator::startDictation()
{
    return QtFuture::makeReadyFuture();
}

QFuture<void> DictationSessionCoordinator::stopDictation()
{
    return QtFuture::makeReadyFuture();
}
