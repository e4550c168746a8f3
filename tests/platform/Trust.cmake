# Trust tests: certificates and chains, CMS and timestamps, notarization tickets, the assessment policy, the
# ticket service and the spctl and stapler stand-ins.
target_sources(tests_platform PRIVATE TrustTest.cpp CmsTest.cpp RealSampleTest.cpp TicketTest.cpp SpctlToolTest.cpp StaplerTest.cpp)
add_dependencies(tests_platform tessarin_spctl tessarin_stapler)
