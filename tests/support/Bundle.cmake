# Bundle fixture builders.
target_sources(tessarin_testsupport PRIVATE BundleBuilder.cpp)
