// libFuzzer entry: quarantine attribute values: the flags text taken from them, whether it counts
// as set, and the character segmentation both rest on.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "Quarantine.h"
#include "base/Unicode.h"
#include "Require.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<unsigned char> value(data, data + size);
    const std::string flags = tessarin::quarantineFlagsFromValue(value);
    require(flags.size() <= size);
    (void)tessarin::quarantineFlagIsSet(flags);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (tessarin::isValidUtf8(text)) {
        // Boundaries run from the start to the end of the text, in order.
        auto bounds = tessarin::graphemeClusterBoundaries(text);
        require(!bounds.empty() && bounds.front() == 0 && bounds.back() == size);
        for (std::size_t k = 1; k < bounds.size(); ++k) require(bounds[k - 1] < bounds[k]);
        require(tessarin::firstGraphemeClusters(text, 4).size() <= size);
    }
    return 0;
}
