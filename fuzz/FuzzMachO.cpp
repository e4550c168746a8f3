// Fuzzes the Mach-O header reader, the load-command reader and the architecture names together.
#include "FuzzEntry.h"
#include "macho/MachO.h"

void tessarin::fuzz::fuzzOne(Input in) {
    auto file = parseMachO(in.bytes());
    if (!file) {
        require(!file.error().empty());
        return;
    }
    require(!file->slices.empty());
    require(file->fat || file->slices.size() == 1);
    for (const auto& slice : file->slices) {
        require(slice.offset <= in.size && slice.size <= in.size - slice.offset);
        require(!architectureName(slice.cputype, slice.cpusubtype).empty());
        auto commands = parseLoadCommands(in.bytes(), slice);
        if (!commands) {
            require(!commands.error().empty());
            continue;
        }
        const std::uint64_t header = slice.is64 ? MACH_HEADER_64_SIZE : MACH_HEADER_SIZE;
        std::uint64_t next = header;
        for (const auto& c : *commands) {
            require(c.offset == next && c.cmdsize >= 8);
            require(c.offset + c.cmdsize <= header + slice.sizeofcmds && header + slice.sizeofcmds <= slice.size);
            next += c.cmdsize;
        }
    }
}
