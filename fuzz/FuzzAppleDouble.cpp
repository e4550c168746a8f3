// libFuzzer entry: AppleDouble files as archives carry them ("._NAME"): the entry table, the Finder
// info and the ATTR list. Whatever is read lies inside the input and within the format's limits.
#include <cstddef>
#include <cstdint>

#include "Require.h"
#include "container/AppleDouble.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto ad = tessarin::parseAppleDouble({reinterpret_cast<const std::byte*>(data), size});
    if (!ad) return 0;
    require(ad->finderInfo.empty() || ad->finderInfo.size() == tessarin::FINDERINFOSIZE);
    for (const auto& a : ad->attributes) {
        require(a.value.size() <= size && a.name.size() < tessarin::ATTR_MAX_NAME_LEN);
        require(a.name.find('\0') == std::string::npos);
    }
    return 0;
}
