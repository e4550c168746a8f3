// Writes the property-list fuzzer's starting inputs: Info.plist- and seal-shaped dictionaries and
// every value type, each as XML and as binary, and a binary list whose values share references.
#include <vector>

#include "CorpusFolder.h"
#include "plist/Plist.h"

using namespace tessarin;

int main(int argc, char** argv) {
    std::vector<std::pair<std::string, PlistValue>> values;

    PlistDict info;
    info["CFBundleIdentifier"] = "com.example.tool";
    info["CFBundleShortVersionString"] = "1.2.3";
    info["CFBundleExecutable"] = "Tool";
    info["DTSDKName"] = "macosx11.0";
    info["LSMinimumSystemVersion"] = "10.15";
    info["CFBundleSupportedPlatforms"] = PlistArray{"MacOSX"};
    values.emplace_back("info", PlistValue(info));

    PlistDict every;
    every["true"] = true;
    every["false"] = false;
    every["negative"] = std::int64_t{-42};
    every["large"] = std::int64_t{1} << 62;
    every["real"] = 2.5;
    every["text"] = "caf\xC3\xA9 \xF0\x9F\x8D\x8E <&>";
    every["data"] = PlistData{{0, 1, 2, 0xFF}};
    every["date"] = PlistDate{631152000.5};
    every["empty array"] = PlistArray{};
    every["empty dict"] = PlistDict{};
    values.emplace_back("every-type", PlistValue(every));

    PlistDict entry, rules2, omit;
    entry["hash2"] = PlistData{std::vector<std::uint8_t>(32, 7)};
    entry["optional"] = true;
    omit["omit"] = true;
    omit["weight"] = std::int64_t{20};
    rules2["^.*"] = true;
    rules2["^Info\\.plist$"] = omit;
    PlistDict files2, seal;
    files2["Resources/en.lproj/InfoPlist.strings"] = entry;
    seal["files2"] = files2;
    seal["rules2"] = rules2;
    values.emplace_back("seal", PlistValue(seal));

    PlistValue nested = PlistArray{};
    for (int depth = 0; depth < 8; ++depth) nested = PlistArray{nested, PlistDict{{"k", nested}}};
    values.emplace_back("nested", nested);

    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto& [name, value] : values) {
        const auto binary = toBinaryPlist(value);
        inputs.emplace_back(name + ".xml", toXmlPlist(value));
        inputs.emplace_back(name + ".bplist", std::string(binary.begin(), binary.end()));
    }
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
