// Owning handle for libplist nodes, shared by the binary reader and the writer.
#pragma once

#include <memory>

#include <plist/plist.h>

namespace tessarin {

struct PlistFree {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

}  // namespace tessarin
