# Xar fixture builders: flat packages (optionally signed and stapled) and test certificate chains.
target_sources(tessarin_testsupport PRIVATE XarBuilder.cpp)
