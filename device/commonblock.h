#pragma once

#include "link/registerimages.h"

#include <cstdint>
#include <functional>

// The settings block that three editors share, protected by a check value and kept twice in the
// device.

// Puts the check value over the block's twelve data bytes into bytes 12..13 (low byte first)
// and copies the sealed block to its shadow. Pure.
void SealCommonBlock(RegisterImages &images);

struct CommonBlockWrite
{
    int shadowResult = 0;
    int blockResult = 0;
    bool ok() const { return shadowResult == 0 && blockResult == 0; }
};

// Seals the block, then writes the shadow and the block, in that order, each whatever became of
// the other. writeSettings(bytePosition, byteLength) is the caller's logged holding write.
using SettingsWriter = std::function<int(std::uint16_t bytePosition, std::uint16_t byteLength)>;
CommonBlockWrite UpdateCommonBlock(RegisterImages &images, const SettingsWriter &writeSettings);
