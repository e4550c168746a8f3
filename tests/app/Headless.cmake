# The headless report: in process with fake tools, and the real program under signals, pipes and a
# terminal.
add_executable(tests_headless HeadlessTest.cpp)
set_target_properties(tests_headless PROPERTIES AUTOMOC ON)
target_link_libraries(tests_headless PRIVATE tessarin_app tessarin_testsupport Qt6::Test)
target_compile_definitions(tests_headless PRIVATE TESSARIN_PROGRAM="$<TARGET_FILE:tessarin>"
                                                  TESSARIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                                  TESSARIN_VERSION="${PROJECT_VERSION}")
tessarin_target_options(tests_headless)
add_dependencies(tests_headless tessarin)
add_test(NAME tests_headless COMMAND tests_headless)
set_tests_properties(tests_headless PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
