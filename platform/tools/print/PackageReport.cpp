// Turns a package signature check into pkgutil's text; the checking itself lives in Package.cpp.
#include "tools/print/PackageReport.h"
#include "tools/print/Printable.h"

#include <ctime>

#include "tools/print/NotarizationText.h"

namespace tessarin {

namespace {

std::string baseName(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string utcTime(std::time_t t) {
    std::tm tm{};
    char text[64];
    if (!::gmtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &tm) == 0) return "?";
    return text;
}

// Spaced hex, 22 bytes on the first line and the rest on the second.
std::string fingerprintLines(const std::string& hex) {
    std::string lines;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        std::size_t byte = i / 2;
        if (byte == 0 || byte == 22)
            lines += (byte ? "\n" : "") + std::string("           ");
        else
            lines += ' ';
        lines += hex.substr(i, 2);
    }
    return lines + "\n";
}

std::string statusText(const PackageSignatureCheck& check) {
    switch (check.status) {
    case PackageSignatureStatus::NoSignature: return "no signature";
    case PackageSignatureStatus::Invalid: return "invalid signature (" + check.failure + ")";
    case PackageSignatureStatus::Untrusted: return "signed by untrusted certificate";
    case PackageSignatureStatus::Expired: return "signed by a certificate that has since expired";
    case PackageSignatureStatus::AppleDistribution:
        return "signed by a developer certificate issued by Apple for distribution";
    case PackageSignatureStatus::AppleSoftware: return "signed Apple Software";
    case PackageSignatureStatus::Trusted: return "signed by a certificate trusted by Mac OS X";
    }
    return "no signature";
}

}  // namespace

std::string packageSignatureReport(const std::string& path, const PackageSignatureCheck& check) {
    std::string text = "Package \"" + printable(baseName(path)) + "\":\n";
    text += "   Status: " + statusText(check) + "\n";
    const bool trusted = isTrustedPackageStatus(check.status);
    if (trusted && check.ticket.present) {
        if (check.ticket.notarized())
            text += "   Notarization: trusted by the Apple notary service\n";
        else if (!check.ticket.verified)
            text +=
                "   Notarization: the stapled ticket is not valid (" + ticketFailureText(check.ticket.failure) + ")\n";
        else
            text += "   Notarization: the stapled ticket does not name this package\n";
    }
    if (trusted && check.trustedTimestamp)
        text += "   Signed with a trusted timestamp on: " + utcTime(*check.trustedTimestamp) + "\n";
    if (check.status == PackageSignatureStatus::NoSignature || check.status == PackageSignatureStatus::Invalid ||
        check.chain.empty())
        return text;
    text += "   Certificate Chain:\n";
    for (std::size_t i = 0; i < check.chain.size(); ++i) {
        const CertificateInfo& c = check.chain[i];
        if (i > 0) text += "       " + std::string(72, '-') + "\n";
        std::string name = !c.commonName.empty()     ? c.commonName
                           : !c.organization.empty() ? c.organization
                                                     : "(no name)";
        text += "    " + std::to_string(i + 1) + ". " + printable(name) + "\n";
        text += "       Expires: " + utcTime(c.notAfter) + "\n";
        text += "       SHA256 Fingerprint:\n";
        text += fingerprintLines(c.sha256Fingerprint);
    }
    return text + "\n";
}

}  // namespace tessarin
