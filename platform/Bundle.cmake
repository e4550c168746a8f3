# Bundles and property lists, strings tables, type identifiers, extended attributes and text.
target_sources(tessarin_platform PRIVATE
  Plist.cpp
  StringsFile.cpp
  Bundle.cpp
  TypeIdentifier.cpp
  ExtendedAttributes.cpp
  Unicode.cpp)
