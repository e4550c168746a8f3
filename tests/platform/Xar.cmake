# Xar tests: the archive reader, package signatures and contents, pkgutil's text and the pkgutil stand-in.
target_sources(tests_platform PRIVATE XarTest.cpp PackageTest.cpp PkgutilToolTest.cpp PackagePayloadTest.cpp)
add_dependencies(tests_platform tessarin_pkgutil)
