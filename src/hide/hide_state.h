// hide_state.h -- what hiding and unhiding keep in the library state: the carrier
// machinery, the PCX picture and the header of the prepared file last recovered.
#pragma once

#include <cstdint>

#include "hide/carrier.h"
#include "hide/pcx_carrier.h"

namespace hedgerow::hide {

struct HideState {
    CarrierState carrier;                          // BMP and WAV walk, bit pump, collector
    PcxState pcx;                                  // the PCX picture while it is worked on
    uint8_t header[kPreparedHeaderSize] = {};      // header of the recovered prepared file
};

}  // namespace hedgerow::hide
