# Xar sources and tools: flat packages' archive format, package signatures and the pkgutil stand-in.
target_sources(tessarin_platform PRIVATE XmlTree.cpp Xar.cpp Package.cpp PackageReport.cpp)

add_executable(tessarin_pkgutil tools/PkgutilTool.cpp)
target_link_libraries(tessarin_pkgutil PRIVATE tessarin_platform)
tessarin_target_options(tessarin_pkgutil)
tessarin_standin_tool(tessarin_pkgutil pkgutil)
