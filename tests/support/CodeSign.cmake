# CodeSign fixture builders: a test-only signer for Mach-O images and bundles.
target_sources(tessarin_testsupport PRIVATE MachOSigner.cpp RequirementBuilder.cpp)
