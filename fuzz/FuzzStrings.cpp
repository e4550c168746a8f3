// libFuzzer entry: localized strings tables (InfoPlist.strings) in any of their forms, and the
// old-style text reader on its own.
#include "FuzzEntry.h"
#include "plist/StringsFile.h"

void tessarin::fuzz::fuzzOne(Input in) {
    auto table = parseStringsFile(in.bytes());
    if (!table) require(!table.error().empty());
    auto text = parseStringsText(in.text());
    if (!text) require(!text.error().empty());
}
