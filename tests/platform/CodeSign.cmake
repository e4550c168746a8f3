# CodeSign tests: signature parsing, verification and the codesign stand-in's output; disk images.
target_sources(tests_platform PRIVATE CodeSignatureTest.cpp CodeSignVerifyTest.cpp CodesignToolTest.cpp VerifyBytesTest.cpp AttackTest.cpp
                               RequirementTest.cpp ComponentTreeTest.cpp DiskImageTest.cpp)
add_dependencies(tests_platform tessarin_codesign tessarin_spctl tessarin_stapler)
# Real signed samples cached by scripts/fetch-npm-samples.sh; tests skip when they are absent.
target_compile_definitions(tests_platform PRIVATE TESSARIN_CODESIGN_SAMPLES="${PROJECT_SOURCE_DIR}/tests/.samples/npm")
