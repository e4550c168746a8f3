// libFuzzer entry: quarantine attribute values decoded into their fields and put into words; a value
// is either decoded or said to be malformed, and its raw text is always kept.
#include "FuzzEntry.h"
#include "Quarantine.h"

void tessarin::fuzz::fuzzOne(Input in) {
    const QuarantineRecord record = decodeQuarantine(in.text());
    require(record.raw == in.text());
    require(record.agent.size() <= in.size && record.eventId.size() <= in.size);
    require(quarantineFlagNames(record.flags).size() <= 32);
    require(!quarantineText(record).empty());
}
