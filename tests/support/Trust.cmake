# Trust fixture builders: test certificate chains and a CMS signer shaped like Apple's.
target_sources(tessarin_testsupport PRIVATE SigningChain.cpp)
