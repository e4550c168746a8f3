// libFuzzer entry: AppleDouble files as archives carry them ("._NAME"): the entry table, the Finder
// info and the ATTR list. Whatever is read lies inside the input and within the format's limits.
#include "FuzzEntry.h"
#include "container/AppleDouble.h"

void tessarin::fuzz::fuzzOne(Input in) {
    auto ad = parseAppleDouble(in.bytes());
    if (!ad) return;
    require(ad->finderInfo.empty() || ad->finderInfo.size() == FINDERINFOSIZE);
    for (const auto& a : ad->attributes) {
        require(a.value.size() <= in.size && a.name.size() < ATTR_MAX_NAME_LEN);
        require(a.name.find('\0') == std::string::npos);
    }
}
