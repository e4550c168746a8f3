// The quarantine flags text of an item: the first four characters of its quarantine attribute.
#pragma once

#include <string>
#include <vector>

#include "base/FileURL.h"

namespace tessarin {

// Empty when the attribute is missing, unreadable, not UTF-8 or shorter than 11 characters.
std::string quarantineFlags(const FileURL& url);

// The flags text of an attribute value already read (the decoding and length rules alone).
std::string quarantineFlagsFromValue(const std::vector<unsigned char>& value);

// Whether a flags text counts as set: four or more characters and a third scalar of "8".
bool quarantineFlagIsSet(const std::string& flags);

}  // namespace tessarin
