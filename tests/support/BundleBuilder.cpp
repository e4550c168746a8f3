// Writes test bundles in the layouts the platform knows; see BundleBuilder.h.
#include "BundleBuilder.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <stdexcept>

#include "TempDir.h"
#include "base/Unicode.h"

namespace tessarin::test {

namespace {

std::string escaped(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string parentOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

void makeLink(const std::string& target, const std::string& at) {
    makeDirectories(parentOf(at));
    ::unlink(at.c_str());
    if (::symlink(target.c_str(), at.c_str()) != 0) throw std::runtime_error("cannot make symbolic link " + at);
}

// CFBundlePackageType by Kind, in its order.
constexpr const char* kPackageTypes[] = {"APPL", "FMWK", "BNDL", "pmkr"};

}  // namespace

std::string utf8ToUtf16(std::string_view utf8, bool bigEndian) {
    std::string out;
    auto put = [&](char16_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (char32_t c : unicodeScalars(utf8)) {
        if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (c >> 10)));
            put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string stringsTable(const StringsEntries& entries, StringsFormat format) {
    if (format == StringsFormat::XmlPlist || format == StringsFormat::BinaryPlist) {
        PlistDict dict;
        for (const auto& [k, v] : entries) dict[k] = PlistValue(v);
        if (format == StringsFormat::XmlPlist) return toXmlPlist(PlistValue(dict));
        auto bin = toBinaryPlist(PlistValue(dict));
        return std::string(bin.begin(), bin.end());
    }
    std::string text = "/* Localized versions of Info.plist keys */\n\n";
    for (const auto& [k, v] : entries) text += escaped(k) + " = " + escaped(v) + ";\n";
    if (format == StringsFormat::TextUtf16LE) return "\xFF\xFE" + utf8ToUtf16(text, false);
    if (format == StringsFormat::TextUtf16BE) return "\xFE\xFF" + utf8ToUtf16(text, true);
    return text;
}

BundleBuilder::BundleBuilder(std::string path, Kind kind) : path_(std::move(path)), kind_(kind) {
    std::string name = path_.substr(path_.rfind('/') + 1);
    std::string stem = name.substr(0, name.rfind('.'));
    info_["CFBundleIdentifier"] = PlistValue("com.example." + stem);
    info_["CFBundleName"] = PlistValue(stem);
    info_["CFBundlePackageType"] = PlistValue(kPackageTypes[static_cast<int>(kind)]);
    info_["CFBundleInfoDictionaryVersion"] = PlistValue("6.0");
}

BundleBuilder& BundleBuilder::info(const std::string& key, PlistValue value) {
    info_[key] = std::move(value);
    return *this;
}

BundleBuilder& BundleBuilder::infoFormat(InfoFormat format) {
    infoFormat_ = format;
    return *this;
}

BundleBuilder& BundleBuilder::rawInfoPlist(std::string bytes) {
    rawInfo_ = std::move(bytes);
    useRawInfo_ = true;
    return *this;
}

BundleBuilder& BundleBuilder::executable(const std::string& name, std::vector<std::uint8_t> bytes) {
    executableName_ = name;
    executable_ = std::move(bytes);
    info_["CFBundleExecutable"] = PlistValue(name);
    return *this;
}

BundleBuilder& BundleBuilder::localized(const std::string& language, const StringsEntries& entries,
                                        StringsFormat format) {
    return rawLocalized(language, stringsTable(entries, format));
}

BundleBuilder& BundleBuilder::rawLocalized(const std::string& language, std::string bytes) {
    localized_.emplace_back(language, std::move(bytes));
    return *this;
}

BundleBuilder& BundleBuilder::file(const std::string& relative, std::string_view bytes) {
    files_.emplace_back(relative, std::string(bytes));
    return *this;
}

BundleBuilder& BundleBuilder::file(const std::string& relative, const std::vector<std::uint8_t>& bytes) {
    return file(relative, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

BundleBuilder& BundleBuilder::resource(const std::string& relative, std::string_view bytes) {
    std::string resources = resourcesPath().substr(path_.size());
    if (!resources.empty() && resources.front() == '/') resources.erase(0, 1);
    return file(resources.empty() ? relative : resources + "/" + relative, bytes);
}

BundleBuilder& BundleBuilder::symlink(const std::string& relative, const std::string& target) {
    links_.emplace_back(relative, target);
    return *this;
}

std::string BundleBuilder::contentsPath() const {
    switch (kind_) {
    case Kind::App:
    case Kind::OldPackage: return path_ + "/Contents";
    case Kind::Framework: return path_ + "/Versions/" + version_;
    case Kind::Shallow: break;
    }
    return path_;
}

std::string BundleBuilder::resourcesPath() const {
    return kind_ == Kind::Shallow ? path_ : contentsPath() + "/Resources";
}

std::string BundleBuilder::infoPlistPath() const {
    switch (kind_) {
    case Kind::App:
    case Kind::OldPackage: return contentsPath() + "/Info.plist";
    case Kind::Framework: return contentsPath() + "/Resources/Info.plist";
    case Kind::Shallow: break;
    }
    return path_ + "/Info.plist";
}

std::string BundleBuilder::executablePath() const {
    if (executableName_.empty()) return {};
    if (kind_ == Kind::App || kind_ == Kind::OldPackage) return contentsPath() + "/MacOS/" + executableName_;
    return contentsPath() + "/" + executableName_;
}

const std::string& BundleBuilder::build() {
    makeDirectories(path_);
    if (kind_ == Kind::App || kind_ == Kind::OldPackage) makeDirectories(contentsPath());
    if (kind_ != Kind::Shallow) makeDirectories(resourcesPath());
    if (useRawInfo_)
        writeFile(infoPlistPath(), rawInfo_);
    else if (infoFormat_ == InfoFormat::Xml)
        writeFile(infoPlistPath(), toXmlPlist(PlistValue(info_)));
    else
        writeFile(infoPlistPath(), toBinaryPlist(PlistValue(info_)));
    switch (kind_) {
    case Kind::App: writeFile(contentsPath() + "/PkgInfo", "APPL????"); break;
    case Kind::OldPackage:
        writeFile(contentsPath() + "/PkgInfo", "pmkrpkg1");
        writeFile(contentsPath() + "/Archive.bom", "BOMStore");
        writeFile(contentsPath() + "/Archive.pax.gz", std::string("\x1f\x8b\x08\x00", 4));
        break;
    case Kind::Framework:
        makeLink(version_, path_ + "/Versions/Current");
        makeLink("Versions/Current/Resources", path_ + "/Resources");
        if (!executableName_.empty()) makeLink("Versions/Current/" + executableName_, path_ + "/" + executableName_);
        break;
    case Kind::Shallow: break;
    }
    if (!executableName_.empty()) {
        writeFile(executablePath(), executable_);
        ::chmod(executablePath().c_str(), 0755);
    }
    for (const auto& [language, bytes] : localized_)
        writeFile(resourcesPath() + "/" + language + ".lproj/InfoPlist.strings", bytes);
    for (const auto& [relative, bytes] : files_) writeFile(path_ + "/" + relative, bytes);
    for (const auto& [relative, target] : links_) makeLink(target, path_ + "/" + relative);
    return path_;
}

BundleBuilder BundleBuilder::nested(const std::string& relative, Kind kind) const {
    return BundleBuilder(path_ + "/" + relative, kind);
}

}  // namespace tessarin::test
