# CodeSign sources and tools: embedded signatures, resource seals, verification and the codesign stand-in.
target_sources(tessarin_platform PRIVATE CodeSignature.cpp CodeResources.cpp ResourcePattern.cpp CodeSignVerifier.cpp)

add_executable(tessarin_codesign tools/CodesignTool.cpp)
target_link_libraries(tessarin_codesign PRIVATE tessarin_platform)
tessarin_target_options(tessarin_codesign)
tessarin_standin_tool(tessarin_codesign codesign)
