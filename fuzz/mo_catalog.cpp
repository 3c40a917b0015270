// The client's MO catalogue reader: any bytes are refused whole or give a catalogue whose
// every entry can be found by its id.
#include <string>

#include "FuzzTarget.h"
#include "client/core/MoCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto catalogue = MoCatalog::Parse(fuzz::Text(data, size));
    if (!catalogue) return 0;
    catalogue->Find("");
    catalogue->Find(std::string(fuzz::Text(data, size < 16 ? size : 16)));
    return 0;
}
