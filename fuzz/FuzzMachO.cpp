// Fuzzes the Mach-O header reader, the load-command reader and the architecture names together.
#include <cstddef>
#include <cstdint>
#include <span>

#include "macho/MachO.h"
#include "Require.h"

using tessarin::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto bytes = std::as_bytes(std::span(data, size));
    auto file = tessarin::parseMachO(bytes);
    if (!file) {
        require(!file.error().empty());
        return 0;
    }
    require(!file->slices.empty());
    require(file->fat || file->slices.size() == 1);
    for (const auto& slice : file->slices) {
        require(slice.offset <= size && slice.size <= size - slice.offset);
        require(!tessarin::architectureName(slice.cputype, slice.cpusubtype).empty());
        auto commands = tessarin::parseLoadCommands(bytes, slice);
        if (!commands) {
            require(!commands.error().empty());
            continue;
        }
        const std::uint64_t header = slice.is64 ? tessarin::MACH_HEADER_64_SIZE : tessarin::MACH_HEADER_SIZE;
        std::uint64_t next = header;
        for (const auto& c : *commands) {
            require(c.offset == next && c.cmdsize >= 8);
            require(c.offset + c.cmdsize <= header + slice.sizeofcmds && header + slice.sizeofcmds <= slice.size);
            next += c.cmdsize;
        }
    }
    return 0;
}
