# Bundle tests: property lists, strings tables, bundles, type identifiers, attributes, text.
target_sources(tests_platform PRIVATE PlistTest.cpp BundleTest.cpp TypeIdentifierTest.cpp XattrTest.cpp
                                      UnicodeTest.cpp)
