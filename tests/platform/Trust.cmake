# Trust tests: certificates and chains, CMS and timestamps, notarization tickets, the assessment policy and the spctl stand-in.
target_sources(tests_platform PRIVATE TrustTest.cpp CmsTest.cpp TicketTest.cpp SpctlToolTest.cpp)
add_dependencies(tests_platform tessarin_spctl)
