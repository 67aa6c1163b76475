// carrier_fuzz.cpp -- arbitrary bytes as a carrier: recognised, probed, read for a hidden
// file, and hidden into. A hide that succeeds must give its file back; one that fails must
// leave the carrier as it was. The first byte chooses the steps and the size of the file.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/session.h"
#include "hide/carrier.h"
#include "hide/pcx_carrier.h"
#include "support/carrier_builder.h"
#include "support/fuzz_scratch.h"
#include "support/temp_dir.h"

namespace {

using namespace hedgerow;
using namespace hedgerow::hide;

bool Recover(Session& s, CarrierState& c, PcxState& p, const char* carrier, const char* out) {
    uint8_t header[kPreparedHeaderSize];
    if (IsPcxCarrier(s, p, carrier)) return UnhidePcx(s, c, p, carrier, out, header);
    return StatusIsOk(s) && ExtractFromCarrier(s, c, carrier, out, header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    testing::ClearFuzzScratch();
    const std::string carrier = (testing::FuzzScratch() / "carrier").string();
    const std::string prepared = (testing::FuzzScratch() / "prepared").string();
    const std::string out = (testing::FuzzScratch() / "out").string();
    testing::WriteScratchFile(carrier, data, size);
    const std::vector<uint8_t> before(data, data + size);

    Session s;
    CarrierState c;
    PcxState p;
    if ((mode & 1) == 0) {
        (void)Recover(s, c, p, carrier.c_str(), out.c_str());
        if (testing::ReadFile(carrier) != before) __builtin_trap();
        return 0;
    }
    const std::vector<uint8_t> file = testing::MakePrepared(std::vector<uint8_t>(mode >> 1, 0x5A));
    testing::WriteFile(prepared, file);
    bool hidden = false;
    if (IsPcxCarrier(s, p, carrier.c_str())) {
        hidden = HidePcx(s, c, p, carrier.c_str(), prepared.c_str());
    } else if (StatusIsOk(s)) {
        uint32_t unit = 0;
        hidden = ProbeCarrier(s, c, carrier.c_str(), &unit) && EmbedIntoCarrier(s, c, carrier.c_str(), prepared.c_str());
    }
    if (!hidden) {
        if (s.status == 0 || testing::ReadFile(carrier) != before) __builtin_trap();
        return 0;
    }
    Session r;
    if (!Recover(r, c, p, carrier.c_str(), out.c_str()) || testing::ReadFile(out) != file) __builtin_trap();
    return 0;
}
