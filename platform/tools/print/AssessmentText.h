// What the spctl stand-in prints for an assessment, as pure functions.
#pragma once

#include <string>
#include <vector>

#include "verify/Assessment.h"

namespace tessarin {

// "Notarized Developer ID", "Developer ID", "Apple System", "Mac App Store", "no usable signature";
// empty when no rule decided.
std::string assessmentSource(const Assessment& assessment);
// The reason printed in parentheses after "rejected"; empty when there is none.
std::string assessmentReason(const Assessment& assessment);
// Lines on what could not be confirmed offline.
std::vector<std::string> assessmentNotes(const Assessment& assessment);

// Every line spctl -a writes for `path` at a verbosity (the number of v's).
std::string assessmentText(const std::string& path, const Assessment& assessment, int verbosity);

}  // namespace tessarin
