#include "OrganVoicePool.h"

void OrganVoicePool::startVoice (int, float, bool, double, RandomSource&) {}
void OrganVoicePool::releaseVoices (int, double) {}

void OrganVoicePool::clearVoices()
{
    for (auto& v : voices)
        v.active = false;
}

float OrganVoicePool::renderVoices (int, const DrawbarLevels&, float, float, float, float, double, RandomSource&)
{
    return 0.0f;
}
