# Warnings and sanitizers are applied per target, never as global flags.
function(tessarin_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(TESSARIN_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# A stand-in tool: built into libexec/tessarin/ and installed there.
function(tessarin_standin_tool target name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
                        RUNTIME_OUTPUT_DIRECTORY ${TESSARIN_LIBEXEC_OUTPUT})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/tessarin)
endfunction()
