# The shell's windows with fake tools, offscreen, on a private session bus: the Services entry
# registers where no other program sees it, and never on the bus of the user running the tests.
add_executable(tests_shell ShellTest.cpp)
set_target_properties(tests_shell PROPERTIES AUTOMOC ON)
target_link_libraries(tests_shell PRIVATE tessarin_app tessarin_testsupport Qt6::Test)
tessarin_target_options(tests_shell)
# The help window shows the manual that the build typesets.
add_dependencies(tests_shell tessarin_manual)

find_program(TESSARIN_DBUS_RUN_SESSION dbus-run-session)
if(TESSARIN_DBUS_RUN_SESSION)
  add_test(NAME tests_shell COMMAND ${TESSARIN_DBUS_RUN_SESSION} -- $<TARGET_FILE:tests_shell>)
  set_tests_properties(tests_shell PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
else()
  # Without a private bus the Services case skips itself.
  add_test(NAME tests_shell COMMAND tests_shell)
  set_tests_properties(tests_shell PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DBUS_SESSION_BUS_ADDRESS=disabled:")
endif()
set_tests_properties(tests_shell PROPERTIES TIMEOUT 300)
# The desktop entry and the types it offers Tessarin for, as installed.
target_compile_definitions(tests_shell PRIVATE TESSARIN_APP_RESOURCES="${PROJECT_SOURCE_DIR}/app/resources")
# A second copy of the program hands its items to the running one.
add_dependencies(tests_shell tessarin)
