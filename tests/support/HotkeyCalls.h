#pragma once

#include "pipeline/GlobalHotkeyService.h"

#include <QStringList>

// Sets every callback of the service to append its name to calls, in the
// order the chords reach the service.
inline void recordHotkeyCalls(GlobalHotkeyService &service, QStringList &calls)
{
    auto record = [&calls](const char *name) { return [&calls, name] { calls.append(QLatin1String(name)); }; };
    service.onToggle = record("toggle");
    service.onHoldStart = record("holdStart");
    service.onHoldRelease = record("holdRelease");
    service.onFallbackPaste = record("fallbackPaste");
    service.onSummarizeAndSpeak = record("summarize");
    service.onSpeakAgain = record("speakAgain");
}
