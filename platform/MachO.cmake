# Mach-O and fat headers, architecture names, and the lipo stand-in built on them.
target_sources(tessarin_platform PRIVATE MachO.cpp ArchitectureNames.cpp)

add_executable(tessarin_lipo tools/LipoTool.cpp)
target_link_libraries(tessarin_lipo PRIVATE tessarin_platform)
tessarin_target_options(tessarin_lipo)
tessarin_standin_tool(tessarin_lipo lipo)
