# Archive and AppleDouble fixture builders (libarchive's writer, through platform_container).
target_sources(tessarin_testsupport PRIVATE ArchiveBuilder.cpp)
