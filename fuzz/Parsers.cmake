# Fuzz targets for the readers of bundle and signature contents: property lists, strings tables,
# the XML of xar tables of contents, CMS and certificate DER, quarantine attribute values, resource
# seals, and the cpio archives (in gzip, xz or pbzx) that Installer packages install from.
set(_support ${PROJECT_SOURCE_DIR}/tests/support)
tessarin_fuzz_target(fuzz_plist FuzzPlist.cpp plist GENERATOR PlistCorpus.cpp)
tessarin_fuzz_target(fuzz_strings FuzzStrings.cpp strings
                     GENERATOR StringsCorpus.cpp ${_support}/BundleBuilder.cpp ${_support}/TempDir.cpp)
tessarin_fuzz_target(fuzz_xml FuzzXml.cpp xml GENERATOR XmlCorpus.cpp ${_support}/XarBuilder.cpp
                     ${_support}/SigningChain.cpp)
tessarin_fuzz_target(fuzz_cms FuzzCms.cpp cms GENERATOR CmsCorpus.cpp ${_support}/SigningChain.cpp)
# The quarantine reader lives with the inspection code; only its value parsing is fuzzed.
tessarin_fuzz_target(fuzz_quarantine FuzzQuarantine.cpp quarantine GENERATOR QuarantineCorpus.cpp)
target_sources(fuzz_quarantine PRIVATE ${PROJECT_SOURCE_DIR}/inspect/Quarantine.cpp)
target_include_directories(fuzz_quarantine PRIVATE ${PROJECT_SOURCE_DIR}/inspect)
# The whole value decoded, from the same starting inputs.
tessarin_fuzz_target(fuzz_quarantine_record FuzzQuarantineRecord.cpp quarantine GENERATOR QuarantineCorpus.cpp)
target_sources(fuzz_quarantine_record PRIVATE ${PROJECT_SOURCE_DIR}/inspect/Quarantine.cpp)
target_include_directories(fuzz_quarantine_record PRIVATE ${PROJECT_SOURCE_DIR}/inspect)
tessarin_fuzz_target(fuzz_coderesources FuzzCodeResources.cpp coderesources
                     GENERATOR CodeResourcesCorpus.cpp ${_support}/BundleBuilder.cpp ${_support}/MachOSigner.cpp
                               ${_support}/RequirementBuilder.cpp
                               ${_support}/MachOBuilder.cpp ${_support}/TempDir.cpp)
# Compiled code requirements: the reader, the printer and the evaluator together.
tessarin_fuzz_target(fuzz_requirement FuzzRequirement.cpp requirement
                     GENERATOR RequirementCorpus.cpp ${_support}/RequirementBuilder.cpp)
# Requirement text, as -R takes it and resource seals carry it for nested code: parsed, printed back
# and parsed again.
tessarin_fuzz_target(fuzz_requirement_text FuzzRequirementText.cpp requirement_text
                     GENERATOR RequirementTextCorpus.cpp)
# AppleDouble companions from archives made on a Mac.
tessarin_fuzz_target(fuzz_appledouble FuzzAppleDouble.cpp appledouble
                     GENERATOR AppleDoubleCorpus.cpp ${_support}/ArchiveBuilder.cpp ${_support}/TempDir.cpp)
# Payload and Scripts archives: the decompressors and the incremental cpio reader together.
tessarin_fuzz_target(fuzz_payload FuzzPayload.cpp payload GENERATOR PayloadCorpus.cpp ${_support}/XarBuilder.cpp
                     ${_support}/SigningChain.cpp)
