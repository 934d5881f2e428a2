#include "VoiceSettings.h"

void VoiceSettings::previewVoice()
{
    stopSpeaking();
    if (isModelLoaded())
        speakWithNeuralVoice(previewSentence);
    else
        speakWithSystemVoice(previewSentence);
}
