// Derives the designated requirement of code signed without one, the way codesign does: the trees
// built here print and evaluate like compiled ones.
#include "codesign/DesignatedRequirement.h"

#include <algorithm>

namespace tessarin {

namespace {

// Apple's marker extensions, as DER content bytes of their OIDs.
const Bytes kDeveloperIdIntermediate = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                        0x63, 0x64, 0x06, 0x02, 0x06};  // 1.2.840.113635.100.6.2.6
const Bytes kDeveloperIdLeaf = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                0x63, 0x64, 0x06, 0x01, 0x0d};  // 1.2.840.113635.100.6.1.13
const Bytes kWwdrIntermediate = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                 0x63, 0x64, 0x06, 0x02, 0x01};  // 1.2.840.113635.100.6.2.1

RequirementExpr node(std::uint32_t op) {
    RequirementExpr e;
    e.op = op;
    e.rawOp = op;
    return e;
}

RequirementExpr join(std::uint32_t op, RequirementExpr a, RequirementExpr b) {
    RequirementExpr e = node(op);
    e.operands.push_back(std::move(a));
    e.operands.push_back(std::move(b));
    return e;
}

// Right-nested "a and (b and (c ...))", as codesign lays out the clauses it derives.
RequirementExpr allOf(std::vector<RequirementExpr> clauses) {
    RequirementExpr e = std::move(clauses.back());
    for (std::size_t i = clauses.size() - 1; i-- > 0;) e = join(opAnd, std::move(clauses[i]), std::move(e));
    return e;
}

RequirementExpr certGenericExists(std::int32_t slot, const Bytes& oid) {
    RequirementExpr e = node(opCertGeneric);
    e.certificate = slot;
    e.oid = oid;
    e.match.op = matchExists;
    return e;
}

RequirementExpr certFieldEquals(std::int32_t slot, const std::string& field, const std::string& value) {
    RequirementExpr e = node(opCertField);
    e.certificate = slot;
    e.text = field;
    e.match.op = matchEqual;
    e.match.value = value;
    return e;
}

bool hasExtension(const CertificateFields& cert, const Bytes& oid) {
    auto dotted = oidText(oid);
    return dotted &&
           std::find(cert.extensionOids.begin(), cert.extensionOids.end(), *dotted) != cert.extensionOids.end();
}

std::string subjectOr(const CertificateFields& cert, const std::string& name) {
    const std::string* v = cert.subjectValue(name);
    return v ? *v : std::string();
}

}  // namespace

Result<Requirement> implicitDesignatedRequirement(const ImplicitRequirementInput& input) {
    Requirement req;
    if (input.adhoc) {
        if (input.cdhashes.empty()) return fail("ad hoc code without a CDHash has no designated requirement");
        // Left-nested "or", one clause per CDHash, as the requirement is chained together.
        for (const auto& hash : input.cdhashes) {
            RequirementExpr clause = node(opCDHash);
            clause.hash = hash;
            req.expression = &hash == &input.cdhashes.front()
                                 ? std::move(clause)
                                 : join(opOr, std::move(req.expression), std::move(clause));
        }
        return req;
    }
    const auto& chain = input.chain;
    if (chain.empty()) return fail("the signature carries no certificates to derive a designated requirement from");

    RequirementExpr ident = node(opIdent);
    ident.text = input.identifier;
    const Bytes& top = chain.back().der;
    const bool appleRoot =
        std::any_of(input.appleRootsDer.begin(), input.appleRootsDer.end(), [&](const Bytes& r) { return r == top; });
    if (appleRoot) {
        const CertificateFields& leaf = chain.front();
        const CertificateFields* intermediate = chain.size() > 1 ? &chain[1] : nullptr;
        if (chain.size() == 3 && hasExtension(*intermediate, kWwdrIntermediate)) {
            req.expression = allOf({std::move(ident), node(opAppleGenericAnchor),
                                    certFieldEquals(kLeafCertificate, "subject.CN", subjectOr(leaf, "CN")),
                                    certGenericExists(1, kWwdrIntermediate)});
        } else if (intermediate && hasExtension(*intermediate, kDeveloperIdIntermediate) &&
                   hasExtension(leaf, kDeveloperIdLeaf)) {
            req.expression =
                allOf({std::move(ident), node(opAppleGenericAnchor), certGenericExists(1, kDeveloperIdIntermediate),
                       certGenericExists(kLeafCertificate, kDeveloperIdLeaf),
                       certFieldEquals(kLeafCertificate, "subject.OU", subjectOr(leaf, "OU"))});
        } else {
            req.expression = allOf({std::move(ident), node(opAppleAnchor)});
        }
        return req;
    }

    // Pin the highest certificate that still carries the leaf's organization: the authority that
    // signer answers to. When that is the top of the chain it is named as the anchor.
    std::int32_t slot = kLeafCertificate;
    if (const std::string* organization = chain.front().subjectValue("O")) {
        while (static_cast<std::size_t>(slot) + 1 < chain.size()) {
            const std::string* above = chain[static_cast<std::size_t>(slot) + 1].subjectValue("O");
            if (!above || *above != *organization) break;
            ++slot;
        }
        if (static_cast<std::size_t>(slot) == chain.size() - 1) slot = kAnchorCertificate;
    }
    RequirementExpr anchor = node(opAnchorHash);
    anchor.certificate = slot;
    anchor.hash = chain[slot == kAnchorCertificate ? chain.size() - 1 : static_cast<std::size_t>(slot)].sha1;
    req.expression = allOf({std::move(ident), std::move(anchor)});
    return req;
}

}  // namespace tessarin
