# CodeSign fixture builders: a test-only signer for Mach-O images, bundles and disk images.
target_sources(tessarin_testsupport PRIVATE MachOSigner.cpp RequirementBuilder.cpp DiskImageBuilder.cpp)
