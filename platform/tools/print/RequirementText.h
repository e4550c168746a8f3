// Code requirements in the text form codesign prints them (`codesign -d -r-`).
#pragma once

#include <cstdint>
#include <string>

#include "codesign/Requirement.h"

namespace tessarin {

// One requirement: `identifier "com.example.app" and anchor apple generic and ...`. Strings from the
// item are quoted where they are not plain words and written in hexadecimal where they hold control
// or non-ASCII bytes, so no requirement text can break a line.
std::string requirementText(const Requirement& requirement);

// "designated", "host", "guest", "library", "plugin"; "invalid" for 0; "/*unknown type*/ N" beyond.
std::string requirementTypeName(std::uint32_t type);

// Each requirement of a set on a line of its own: `designated => ...`.
std::string requirementSetText(const RequirementSet& set);

}  // namespace tessarin
