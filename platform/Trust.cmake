# Trust sources and tools: certificates, chains, CMS, the built-in Apple root, assessment and spctl.
# The Apple Root CA is kept as PEM and compiled in, so the tools need no certificate files at run time.
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/anchors/AppleRootCA.pem TESSARIN_APPLE_ROOT_PEM)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/anchors/AppleRootCA.pem)
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/AppleRootCA.generated.cpp @ONLY CONTENT [==[
// Generated from platform/anchors/AppleRootCA.pem at configure time.
namespace tessarin { extern const char kAppleRootCaPem[] = R"pem(@TESSARIN_APPLE_ROOT_PEM@)pem"; }
]==])
target_sources(tessarin_platform PRIVATE Trust.cpp Cms.cpp AppleRoots.cpp Assessment.cpp
               ${CMAKE_CURRENT_BINARY_DIR}/AppleRootCA.generated.cpp)

add_executable(tessarin_spctl tools/SpctlTool.cpp)
target_link_libraries(tessarin_spctl PRIVATE tessarin_platform)
tessarin_target_options(tessarin_spctl)
tessarin_standin_tool(tessarin_spctl spctl)
