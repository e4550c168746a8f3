// Writes the Mach-O fuzzer's starting inputs: thin and fat files of each kind, built as the tests build them.
#include <algorithm>

#include "CorpusFolder.h"
#include "MachOBuilder.h"
#include "macho/MachOConstants.h"

using namespace tessarin;
using tessarin::test::Bytes;

namespace {
// Small files fuzz faster; the header and one command are all the reader looks at.
Bytes small(std::int32_t type, std::int32_t subtype, bool is64, bool be) {
    Bytes b = test::thinMachO(test::SliceSpec{type, subtype, is64, be, MH_EXECUTE}, 0);
    test::addLoadCommand(b, LC_UUID, Bytes(16, 0x5a));
    return b;
}
}  // namespace

int main(int argc, char** argv) {
    const std::vector<Bytes> slices = {small(CPU_TYPE_X86_64, 3, true, false), small(CPU_TYPE_ARM64, 0, true, false)};
    const std::vector<std::pair<std::int32_t, std::int32_t>> types = {{CPU_TYPE_X86_64, 3}, {CPU_TYPE_ARM64, 0}};
    Bytes archive(64, 0);
    std::copy_n("!<arch>\n", 8, archive.begin());
    Bytes java = {0xca, 0xfe, 0xba, 0xbe, 0x00, 0x00, 0x00, 0x34};
    java.resize(64, 0);
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"thin32le", small(CPU_TYPE_I386, CPU_SUBTYPE_I386_ALL, false, false)},
        {"thin64le", small(CPU_TYPE_X86_64, CPU_SUBTYPE_X86_64_ALL, true, false)},
        {"thin32be", small(CPU_TYPE_POWERPC, CPU_SUBTYPE_POWERPC_970, false, true)},
        {"thin64be", small(CPU_TYPE_POWERPC64, CPU_SUBTYPE_POWERPC_ALL, true, true)},
        {"arm64e", small(CPU_TYPE_ARM64, CPU_SUBTYPE_ARM64E | CPU_SUBTYPE_PTRAUTH_ABI, true, false)},
        {"fat32", test::fatMachO(slices, types, false, 4)},
        {"fat64", test::fatMachO(slices, types, true, 4)},
        {"fatarchive", test::fatMachO({archive, slices[1]}, types, false, 3)},
        {"java", java},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
