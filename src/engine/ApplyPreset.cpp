#include "ApplyPreset.h"

#include "RunningAppsManager.h"

void applyPreset(const BehaviorPreset& preset, RunningAppsManager& engine) {
    preset.writeTo(engine.defaults());
    engine.resetAllTimers();
}
