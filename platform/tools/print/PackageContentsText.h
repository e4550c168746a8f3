// What pkgutil's stand-in prints of what a flat package installs: the payload's paths in the real
// tool's --payload-files layout, each script under a heading, and the whole as one JSON document.
#pragma once

#include <string>

#include "package/PackageContents.h"

namespace tessarin {

// One path a line, as stored in the payload ("." and "./Applications/..."), component after component.
std::string payloadFilesText(const PackageContents& contents);
// Each script under a heading that names its component, its name and its size; the text as stored,
// bytes that are not UTF-8 shown as "\xFF", cut at the shown size with a line that says so.
std::string scriptsText(const PackageContents& contents);
// {"contentsVersion", "package", "distribution", "components": [{"folder", "identifier", "version",
//  "installLocation", "bom", "failure", "payload": [{"path", "type", "mode", "size", "uid", "gid",
//  "linkTarget"}], "scripts": [{"name", "size", "truncated", "text"}]}]}
std::string packageContentsJson(const std::string& path, const PackageContents& contents);
// "Example.pkg (com.example.pkg 1.0)", or the identifier alone for a package at the archive's root.
std::string componentTitle(const ComponentPackage& component);

}  // namespace tessarin
