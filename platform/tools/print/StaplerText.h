// What the stapler stand-in prints for `validate`, as pure functions of the validation.
#pragma once

#include <string>

#include "verify/Stapling.h"

namespace tessarin {

// Every line `stapler validate` writes for `path`: "Processing:", the account of the ticket with
// `verbose`, what the service said when it was asked, and the verdict.
std::string staplerValidateText(const std::string& path, const StaplerValidation& validation, bool verbose);

// The record name and what the service said, or what the ticket it returned proved, in one line.
std::string onlineLookupLine(const StaplerValidation& validation);

}  // namespace tessarin
