// Writes the strings-table fuzzer's starting inputs: the text form with its escapes, comments and
// nested values, in UTF-8 and both UTF-16 orders, and the two property-list forms.
#include "BundleBuilder.h"
#include "CorpusFolder.h"

using namespace tessarin::test;

int main(int argc, char** argv) {
    const StringsEntries entries = {
        {"CFBundleShortVersionString", "2.0"},
        {"CFBundleName", "Caf\xC3\xA9 \xF0\x9F\x8D\x8E"},
        {"NSHumanReadableCopyright", "\"Quoted\"\\ line\nbreak\ttab"},
    };
    const std::vector<std::pair<std::string, std::string>> inputs = {
        {"text", stringsTable(entries, StringsFormat::Text)},
        {"text-utf16le", stringsTable(entries, StringsFormat::TextUtf16LE)},
        {"text-utf16be", stringsTable(entries, StringsFormat::TextUtf16BE)},
        {"xml", stringsTable(entries, StringsFormat::XmlPlist)},
        {"binary", stringsTable(entries, StringsFormat::BinaryPlist)},
        {"escapes", "\xEF\xBB\xBF/* c */ \"a\" = \"\\U00e9\\UD83C\\UDF4E\\101\\\\\"; // end\nb;\n"},
        {"old-style", "{ key = value; list = (one, \"two\", <0fa1 b2>); dict = { inner = 1; }; }"},
        {"utf16-no-mark", utf8ToUtf16("\"k\" = \"v\";\n", false)},
    };
    return tessarin::fuzz::writeCorpus(argc, argv, inputs);
}
