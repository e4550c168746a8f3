// Bundle structure, information and main executable, read the way the platform's bundle class reads
// them. A directory opens as a bundle in one of three layouts, tried in this order:
//   Contents/ : Contents/Info.plist or Contents/MacOS/ (applications, plug-ins, and old directory
//               Installer packages, which have Contents/Info.plist but no MacOS folder);
//   Framework : Versions/Current with Resources/Info.plist (at the top or under Versions/Current);
//   Shallow   : Info.plist at the root.
// Anything else is no bundle.
#include "bundle/Bundle.h"

#include <langinfo.h>
#include <sys/stat.h>
#include <clocale>
#include <locale>

#include "base/FileURL.h"
#include "base/MappedFile.h"
#include "macho/MachO.h"
#include "plist/StringsFile.h"

namespace tessarin {

namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Localization folders named in English, as older bundles have them.
const char* legacyName(const std::string& code) {
    static const std::pair<const char*, const char*> names[] = {
        {"en", "English"},   {"fr", "French"},     {"de", "German"},  {"ja", "Japanese"}, {"es", "Spanish"},
        {"it", "Italian"},   {"nl", "Dutch"},      {"sv", "Swedish"}, {"da", "Danish"},   {"fi", "Finnish"},
        {"no", "Norwegian"}, {"pt", "Portuguese"}, {"ko", "Korean"},
    };
    for (const auto& [c, name] : names)
        if (code == c) return name;
    return nullptr;
}
const char* codeForLegacyName(const std::string& name) {
    for (const char* code : {"en", "fr", "de", "ja", "es", "it", "nl", "sv", "da", "fi", "no", "pt", "ko"})
        if (name == legacyName(code)) return code;
    return nullptr;
}

void addUnique(std::vector<std::string>& list, const std::string& s) {
    if (s.empty()) return;
    for (const auto& have : list)
        if (have == s) return;
    list.push_back(s);
}

// "pt_BR" -> pt_BR, pt-BR, pt, Portuguese; "English" -> English, en.
void addLanguage(std::vector<std::string>& out, const std::string& language) {
    addUnique(out, language);
    std::string dashed = language;
    for (char& c : dashed)
        if (c == '_') c = '-';
    addUnique(out, dashed);
    std::string base = language.substr(0, language.find_first_of("_-"));
    addUnique(out, base);
    if (const char* legacy = legacyName(base)) addUnique(out, legacy);
    if (const char* code = codeForLegacyName(language)) addUnique(out, code);
}

// "fr_FR.UTF-8@euro" -> "fr_FR"; nothing for C and POSIX.
std::optional<std::string> languageOfLocaleName(std::string name) {
    // A composite name lists each category: take the messages one.
    if (auto at = name.find("LC_MESSAGES="); at != std::string::npos) {
        name = name.substr(at + 12);
        name = name.substr(0, name.find(';'));
    }
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
    return name;
}

}  // namespace

std::optional<Bundle> Bundle::open(const std::string& directoryPath) {
    Bundle b;
    b.path_ = FileURL{directoryPath, true}.path();
    if (!isDirectory(b.path_)) return std::nullopt;
    const std::string& root = b.path_;
    const bool framework =
        exists(root + "/Versions/Current") && (isRegularFile(root + "/Resources/Info.plist") ||
                                               isRegularFile(root + "/Versions/Current/Resources/Info.plist"));
    // A .framework is its current version even beside a Contents folder: the platform looks for a
    // framework's Resources before Contents, so a copy in Contents/ is never what runs.
    const bool frameworkFirst = framework && root.size() > 10 && root.compare(root.size() - 10, 10, ".framework") == 0;
    if (!frameworkFirst && isDirectory(root + "/Contents") &&
        (isRegularFile(root + "/Contents/Info.plist") || isDirectory(root + "/Contents/MacOS"))) {
        b.layout_ = Layout::App;
    } else if (framework) {
        b.layout_ = Layout::Framework;
    } else if (isRegularFile(root + "/Info.plist")) {
        b.layout_ = Layout::Shallow;
    } else {
        return std::nullopt;
    }
    auto info = readPlistFile(b.infoPlistPath(), kSmallPlistLimits);
    if (info && info->dict()) b.info_ = std::move(info.value());
    return b;
}

std::optional<Bundle> Bundle::openFrameworkVersion(const std::string& frameworkPath, const std::string& version) {
    if (version.empty() || version == "." || version == ".." || version.find('/') != std::string::npos)
        return std::nullopt;
    Bundle b;
    b.path_ = FileURL{frameworkPath, true}.path();
    b.layout_ = Layout::Framework;
    b.version_ = version;
    if (!isRegularFile(b.infoPlistPath())) return std::nullopt;
    auto info = readPlistFile(b.infoPlistPath(), kSmallPlistLimits);
    if (info && info->dict()) b.info_ = std::move(info.value());
    return b;
}

std::string Bundle::infoPlistPath() const {
    switch (layout_) {
    case Layout::App: return path_ + "/Contents/Info.plist";
    case Layout::Framework: {
        // The version's own Info.plist, as the platform reads the version; the top-level link only
        // where the version has none.
        const std::string inVersion = path_ + "/Versions/" + version_ + "/Resources/Info.plist";
        if (version_ != "Current" || isRegularFile(inVersion)) return inVersion;
        return path_ + "/Resources/Info.plist";
    }
    case Layout::Shallow: break;
    }
    return path_ + "/Info.plist";
}

std::string Bundle::resourcesPath() const {
    switch (layout_) {
    case Layout::App: return path_ + "/Contents/Resources";
    case Layout::Framework:
        if (version_ == "Current" && isDirectory(path_ + "/Resources")) return path_ + "/Resources";
        return path_ + "/Versions/" + version_ + "/Resources";
    case Layout::Shallow: break;
    }
    return path_;
}

const PlistDict* Bundle::infoDictionary() const { return info_ ? info_->dict() : nullptr; }

std::optional<std::string> Bundle::executablePath() const {
    const PlistValue* v = info_ ? info_->find("CFBundleExecutable") : nullptr;
    const std::string* name = v ? v->string() : nullptr;
    // A name is one path component: a hostile bundle must not point the reader elsewhere.
    if (!name || name->empty() || *name == "." || *name == ".." || name->find('/') != std::string::npos)
        return std::nullopt;
    std::string path;
    switch (layout_) {
    case Layout::App: path = path_ + "/Contents/MacOS/" + *name; break;
    case Layout::Framework: path = path_ + "/Versions/" + version_ + "/" + *name; break;
    case Layout::Shallow: path = path_ + "/" + *name; break;
    }
    if (!isRegularFile(path)) return std::nullopt;
    return path;
}

std::optional<std::vector<std::int32_t>> Bundle::executableArchitectures() const {
    auto path = executablePath();
    if (!path) return std::nullopt;
    auto file = MappedFile::open(*path);
    if (!file) return std::nullopt;
    auto macho = parseMachO(file->bytes());
    if (!macho) return std::nullopt;
    std::vector<std::int32_t> types;
    types.reserve(macho->slices.size());
    for (const auto& slice : macho->slices) types.push_back(slice.cputype);
    return types;
}

std::optional<std::string> Bundle::localizedInfoStringsPath(const std::vector<std::string>& languages) const {
    std::vector<std::string> candidates;
    for (const auto& language : languages) addLanguage(candidates, language);
    const PlistValue* region = info_ ? info_->find("CFBundleDevelopmentRegion") : nullptr;
    if (region && region->string()) addLanguage(candidates, *region->string());
    for (const char* fallback : {"en", "English", "Base"}) addUnique(candidates, fallback);

    const std::string resources = resourcesPath();
    for (const auto& candidate : candidates) {
        if (candidate.find('/') != std::string::npos || candidate == "..") continue;
        std::string path = resources + "/" + candidate + ".lproj/InfoPlist.strings";
        if (isRegularFile(path)) return path;
    }
    return std::nullopt;
}

std::optional<PlistValue> Bundle::objectForInfoDictionaryKey(const std::string& key,
                                                             const std::vector<std::string>& languages) const {
    // One localization answers, as with the platform: a key it lacks comes from Info.plist.
    if (auto strings = localizedInfoStringsPath(languages)) {
        if (auto table = readStringsFile(*strings)) {
            auto it = table->find(key);
            if (it != table->end()) return it->second;
        }
    }
    if (const PlistValue* v = info_ ? info_->find(key) : nullptr) return *v;
    return std::nullopt;
}

std::optional<PlistValue> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    return objectForInfoDictionaryKey(key, preferredLanguages());
}

std::vector<std::string> Bundle::preferredLanguages() {
    // The C library resolves the user's locale itself; newlocale leaves the process's locale alone.
    std::string name;
#ifdef _NL_LOCALE_NAME
    if (locale_t loc = ::newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(nullptr))) {
        if (const char* n = ::nl_langinfo_l(_NL_LOCALE_NAME(LC_MESSAGES), loc)) name = n;
        ::freelocale(loc);
    }
#else
    try {
        name = std::locale("").name();
    } catch (const std::exception&) {
        name.clear();
    }
#endif
    std::vector<std::string> out;
    if (auto language = languageOfLocaleName(name)) out.push_back(*language);
    return out;
}

}  // namespace tessarin
