# The sample application bundle (shared with the application's tests) and tessarin-make-sample.
target_sources(tessarin_testsupport PRIVATE SampleBundle.cpp)
# Sign the sample where the test signer is part of this build.
get_target_property(_tessarin_support_sources tessarin_testsupport SOURCES)
list(FILTER _tessarin_support_sources INCLUDE REGEX "(^|/)MachOSigner\\.cpp$")
if(_tessarin_support_sources)
  set_source_files_properties(SampleBundle.cpp PROPERTIES COMPILE_DEFINITIONS TESSARIN_SAMPLE_CAN_SIGN)
endif()

add_executable(tessarin-make-sample SampleMaker.cpp)
target_link_libraries(tessarin-make-sample PRIVATE tessarin_testsupport)
tessarin_target_options(tessarin-make-sample)
