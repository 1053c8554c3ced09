#include "device/commonblock.h"

#include "device/imagefields.h"
#include "device/registermap.h"
#include "link/frame.h"

#include <algorithm>

void SealCommonBlock(RegisterImages &images)
{
    auto &h = images.holding;
    const std::uint16_t crc = Crc16(h.data() + regmap::kCommonBlock, regmap::kCommonDataBytes);
    field::setU16(h, regmap::kCommonBlock + regmap::kCommonCheckValue, crc);
    std::copy_n(h.begin() + regmap::kCommonBlock, regmap::kCommonBlockBytes,
                h.begin() + regmap::kCommonShadow);
}

CommonBlockWrite UpdateCommonBlock(RegisterImages &images, const SettingsWriter &writeSettings)
{
    SealCommonBlock(images);
    CommonBlockWrite result;
    result.shadowResult = writeSettings(regmap::kCommonShadow, regmap::kCommonBlockBytes);
    result.blockResult = writeSettings(regmap::kCommonBlock, regmap::kCommonBlockBytes);
    return result;
}
