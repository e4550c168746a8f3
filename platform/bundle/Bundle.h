// Stands in for NSBundle: a directory with bundle structure, its information and main executable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "plist/Plist.h"

namespace tessarin {

class Bundle {
public:
    // A bundle for the directory, or nothing when it has no bundle structure (see Bundle.cpp).
    static std::optional<Bundle> open(const std::string& directoryPath);
    // One version of a framework read as a bundle of its own (Versions/<version>: its Resources/Info.plist
    // and executable), as a framework's other versions are validated; nothing when that version is no
    // plain folder holding an Info.plist.
    static std::optional<Bundle> openFrameworkVersion(const std::string& frameworkPath, const std::string& version);

    const std::string& bundlePath() const { return path_; }
    // The Info.plist as a dictionary, or null when there is none or it does not parse as one.
    const PlistDict* infoDictionary() const;
    // One key, localized from InfoPlist.strings for the user's language, falling back to the
    // development region, then to the Info.plist itself.
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) const;
    // The same with the user's languages given, most preferred first ("fr_CA", "de").
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key,
                                                         const std::vector<std::string>& languages) const;
    // The InfoPlist.strings that localizes the information for these languages, if any: the first
    // that exists of the languages' .lproj folders, then the development region's, "en", "English"
    // and "Base".
    std::optional<std::string> localizedInfoStringsPath(const std::vector<std::string>& languages) const;
    // The main executable's path, when the information names one that exists.
    std::optional<std::string> executablePath() const;
    // CPU types of the main executable's slices in slice order; nothing when there is no
    // readable Mach-O main executable.
    std::optional<std::vector<std::int32_t>> executableArchitectures() const;

    enum class Layout { App, Framework, Shallow };  // Contents/, Versions/Current/Resources, flat
    Layout layout() const { return layout_; }
    // The folder under Versions/ a framework is read from: "Current" unless opened as another version.
    const std::string& frameworkVersion() const { return version_; }
    std::string infoPlistPath() const;
    std::string resourcesPath() const;

    // The user's language from the process's message locale (as the C library resolves it), or
    // nothing for the C and POSIX locales.
    static std::vector<std::string> preferredLanguages();

private:
    std::string path_;
    Layout layout_ = Layout::App;
    std::string version_ = "Current";
    std::optional<PlistValue> info_;
};

}  // namespace tessarin
