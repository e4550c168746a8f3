// What the Components panel and the terminal view say about one component, as plain text: the badge
// it earns at a glance and the details a reader opens it for.
#pragma once

#include <string>

#include "ComponentsCheck.h"

namespace tessarin {

enum class ComponentBadge {
    Signed,     // valid, signed with a certificate from Apple's roots
    Untrusted,  // valid, but its certificate chain does not end at one of Apple's roots
    AdHoc,      // valid, ad hoc or linker-signed: nobody vouches for it
    Unsigned,   // code without a signature
    Invalid,    // signed, but the signature does not hold
    Link,       // a symbolic link, shown and never followed
    NoCode,     // a bundle or file without code of its own
};

ComponentBadge componentBadge(const Component& component);

// "runtime", "no runtime", or empty where the question does not arise (unsigned code, links).
std::string runtimeWords(const Component& component);

// Everything known about the component, one fact a line: identity, signer and chain, time, flags,
// architectures, notarization, entitlements (the weakening ones marked), problems.
std::string componentDetailsText(const Component& component);

// One line for the whole tree: how many components, how many of each badge, how many findings.
std::string componentsSummary(const ComponentsResult& components);

}  // namespace tessarin
