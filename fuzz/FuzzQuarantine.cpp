// libFuzzer entry: quarantine attribute values: the flags text taken from them, whether it counts
// as set, and the character segmentation both rest on.
#include <vector>

#include "FuzzEntry.h"
#include "Quarantine.h"
#include "base/Unicode.h"

void tessarin::fuzz::fuzzOne(Input in) {
    const std::string flags = quarantineFlagsFromValue(std::vector<unsigned char>(in.data, in.data + in.size));
    require(flags.size() <= in.size);
    (void)quarantineFlagIsSet(flags);
    if (!isValidUtf8(in.text())) return;
    // Boundaries run from the start to the end of the text, in order.
    auto bounds = graphemeClusterBoundaries(in.text());
    require(!bounds.empty() && bounds.front() == 0 && bounds.back() == in.size);
    for (std::size_t k = 1; k < bounds.size(); ++k) require(bounds[k - 1] < bounds[k]);
    require(firstGraphemeClusters(in.text(), 4).size() <= in.size);
}
