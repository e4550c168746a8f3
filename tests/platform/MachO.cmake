# Mach-O reader and lipo stand-in tests; the stand-in is run as built, so build it first.
target_sources(tests_platform PRIVATE MachOTest.cpp LipoToolTest.cpp)
set_source_files_properties(LipoToolTest.cpp PROPERTIES
  COMPILE_DEFINITIONS "TESSARIN_MACHO_SAMPLES_DIR=\"${PROJECT_SOURCE_DIR}/tests/.samples\"")
add_dependencies(tests_platform tessarin_lipo)
