// Two apps whose names differ in one byte only, for the application's tests: "evil\xFF.app",
// changed after signing, and "evil\xEF\xBF\xBD.app" (U+FFFD, what a lossy decoding makes of the
// first name), validly signed with the test chain; with the spctl and codesign that judge them.
#pragma once

#include <string>
#include <vector>

#include "TempDir.h"
#include "ToolRunner.h"

namespace tessarin::test {

struct LookAlikeItems {
    explicit LookAlikeItems(const TempDir& dir);

    std::string folder;    // holds both apps and nothing else
    std::string tampered;  // folder + "/evil\xFF.app": its Info.plist says version 6.6 since signing
    std::string valid;     // folder + "/evil\xEF\xBF\xBD.app": version 1.0, intact
    ToolSet tools;         // spctl and codesign trust the test chain's root and note their arguments

    // Whether spctl and codesign each got the exact bytes of each item once, never the other's name
    // (the item is the last argument of each run the record notes).
    bool eachRunGotItsOwnItem() const;

private:
    std::string record_;
};

}  // namespace tessarin::test
