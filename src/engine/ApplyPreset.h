#pragma once

#include "preferences/BehaviorPreset.h"

class RunningAppsManager;

// Writes the preset into the engine's store, then restarts every countdown.
void applyPreset(const BehaviorPreset& preset, RunningAppsManager& engine);
