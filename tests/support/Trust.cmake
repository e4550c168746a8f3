# Trust fixture builders: test certificate chains, a CMS signer shaped like Apple's, notarization tickets.
target_sources(tessarin_testsupport PRIVATE SigningChain.cpp)
target_sources(tessarin_testsupport PRIVATE TicketBuilder.cpp)
target_sources(tessarin_testsupport PRIVATE RealTicket.cpp)
