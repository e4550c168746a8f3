# Trust fixture builders: test certificate chains, a CMS signer shaped like Apple's, notarization tickets.
target_sources(tessarin_testsupport PRIVATE SigningChain.cpp)
target_sources(tessarin_testsupport PRIVATE TicketBuilder.cpp)
target_sources(tessarin_testsupport PRIVATE RealTicket.cpp)
target_sources(tessarin_testsupport PRIVATE RealChain.cpp)
set_source_files_properties(RealChain.cpp PROPERTIES
  COMPILE_DEFINITIONS "TESSARIN_NPM_SAMPLES=\"${PROJECT_SOURCE_DIR}/tests/.samples/npm\"")
