// Builds bundles on disk for tests: applications, frameworks (versioned, with their symbolic links),
// shallow bundles and old directory Installer packages, with Info.plist, executable, localized
// InfoPlist.strings, extra files and links.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plist/Plist.h"

namespace tessarin::test {

enum class InfoFormat { Xml, Binary };
enum class StringsFormat { Text, TextUtf16LE, TextUtf16BE, XmlPlist, BinaryPlist };

using StringsEntries = std::vector<std::pair<std::string, std::string>>;

// A strings table in the given form: text as `"key" = "value";` lines (quotes, backslashes and
// line feeds escaped; UTF-16 forms start with a byte-order mark), or a property list.
std::string stringsTable(const StringsEntries& entries, StringsFormat format);
// UTF-8 text as UTF-16 code units in the given byte order, without a byte-order mark.
std::string utf8ToUtf16(std::string_view utf8, bool bigEndian);

class BundleBuilder {
public:
    enum class Kind {
        App,         // Contents/Info.plist, Contents/MacOS/<executable>, Contents/Resources
        Framework,   // Versions/A/{Resources/Info.plist,<executable>}, Versions/Current -> A,
                     // Resources -> Versions/Current/Resources, <executable> -> Versions/Current/<executable>
        Shallow,     // Info.plist and executable at the root
        OldPackage,  // Contents/Info.plist, PkgInfo, Archive.bom, Archive.pax.gz; no MacOS folder
    };

    // `path` is the bundle folder to make, e.g. dir / "Tool.app". The information starts with
    // CFBundleIdentifier, CFBundleName, CFBundlePackageType and CFBundleInfoDictionaryVersion.
    explicit BundleBuilder(std::string path, Kind kind = Kind::App);

    BundleBuilder& info(const std::string& key, PlistValue value);
    BundleBuilder& infoFormat(InfoFormat format);
    // Info.plist bytes written as they are (for broken or hostile information).
    BundleBuilder& rawInfoPlist(std::string bytes);
    // The main executable: written in its layout's place and named in CFBundleExecutable.
    BundleBuilder& executable(const std::string& name, std::vector<std::uint8_t> bytes);
    BundleBuilder& localized(const std::string& language, const StringsEntries& entries,
                             StringsFormat format = StringsFormat::Text);
    BundleBuilder& rawLocalized(const std::string& language, std::string bytes);
    // Extra files, relative to the bundle folder or to its resources folder.
    BundleBuilder& file(const std::string& relative, std::string_view bytes);
    BundleBuilder& file(const std::string& relative, const std::vector<std::uint8_t>& bytes);
    BundleBuilder& resource(const std::string& relative, std::string_view bytes);
    // A symbolic link at `relative` (to the bundle folder) pointing at `target`, as given.
    BundleBuilder& symlink(const std::string& relative, const std::string& target);

    // Writes everything; returns the bundle's path. May be called again after further changes.
    const std::string& build();

    const std::string& path() const { return path_; }
    // Contents/ for apps and old packages, Versions/<v>/ for frameworks, the root for shallow bundles.
    std::string contentsPath() const;
    std::string resourcesPath() const;
    std::string infoPlistPath() const;
    // Where the executable lands (its real place for frameworks); empty before executable().
    std::string executablePath() const;
    const PlistDict& infoDictionary() const { return info_; }

    // A builder for a bundle inside this one, at `relative` to this bundle's folder.
    BundleBuilder nested(const std::string& relative, Kind kind) const;

private:
    std::string path_;
    Kind kind_;
    PlistDict info_;
    InfoFormat infoFormat_ = InfoFormat::Xml;
    std::string rawInfo_;
    bool useRawInfo_ = false;
    std::string executableName_;
    std::vector<std::uint8_t> executable_;
    std::string version_ = "A";
    std::vector<std::pair<std::string, std::string>> localized_;  // language, bytes
    std::vector<std::pair<std::string, std::string>> files_;      // path relative to root, bytes
    std::vector<std::pair<std::string, std::string>> links_;      // path relative to root, target
};

}  // namespace tessarin::test
