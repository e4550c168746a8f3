# Manual pages, the Debian package's documentation files, and CPack's Debian package
# (scripts/build-deb.sh builds it).

# Dates in generated files follow SOURCE_DATE_EPOCH when it is set, so that a rebuild is the same.
string(TIMESTAMP TESSARIN_MAN_DATE "%B %Y" UTC)
string(TIMESTAMP TESSARIN_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TESSARIN_MAINTAINER "Tessarin maintainers <maintainers@tessarin.org>")
set(TESSARIN_HOMEPAGE "https://tessarin.example/marrowly-tessarin/")

# Debian wants man pages and changelogs gzipped at maximum compression, without a name or a time.
find_program(TESSARIN_GZIP gzip REQUIRED)
function(tessarin_gzipped source output)
  configure_file(${source} ${output} @ONLY)
  add_custom_command(
    OUTPUT ${output}.gz
    COMMAND ${TESSARIN_GZIP} -9nkf ${output}
    DEPENDS ${output} ${source}
    VERBATIM)
endfunction()

# tessarin(1), and one page for each stand-in under a name of its own (tessarin-lipo(1)...), so that
# they never clash with other packages' pages for tools of the same names.
set(TESSARIN_MAN_OUTPUT ${CMAKE_BINARY_DIR}/share/man/man1)
set(TESSARIN_MAN_PAGES)
foreach(page tessarin tessarin-lipo tessarin-codesign tessarin-spctl tessarin-pkgutil tessarin-stapler)
  tessarin_gzipped(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${TESSARIN_MAN_OUTPUT}/${page}.1)
  list(APPEND TESSARIN_MAN_PAGES ${TESSARIN_MAN_OUTPUT}/${page}.1.gz)
endforeach()
install(FILES ${TESSARIN_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's own documentation folder: its copyright file and its (native) changelog.
set(TESSARIN_DOC_OUTPUT ${CMAKE_BINARY_DIR}/share/doc/tessarin)
tessarin_gzipped(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in ${TESSARIN_DOC_OUTPUT}/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/deb/copyright ${TESSARIN_DOC_OUTPUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessarin)

add_custom_target(tessarin_docs ALL DEPENDS ${TESSARIN_MAN_PAGES} ${TESSARIN_DOC_OUTPUT}/changelog.gz)
add_dependencies(tessarin tessarin_docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarin)
set(CPACK_PACKAGE_VENDOR "Tessarin")
set(CPACK_PACKAGE_CONTACT "${TESSARIN_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tells what kind of code a macOS item holds and how it is signed")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tessarin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TESSARIN_HOMEPAGE}")
# Depends come from the binaries themselves (dpkg-shlibdeps): libcurl4 for the online lookup,
# libarchive13 for zip and tar archives and libicu72 for text segmentation among them; Qt's platform plugins for a display and for --report
# come with libqt6gui6, which the program links. nlohmann-json is headers only and needs nothing at
# run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not a library, so dpkg-shlibdeps cannot find it: 7zz reads the file system inside a disk image.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip")
# The log marks its judgements with emoji, which show as empty boxes without a colour emoji font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessarin inspects a macOS item on Linux: a Mach-O file, an application
bundle, a folder or an Installer package. It reports the processor
architectures present, 32-bit-only components inside a bundle, the SDK an
app was built with, its Mac Catalyst status, bundle version and quarantine
flag, and the signature verdicts: valid or not, notarized, App Store, Apple.
.
It reads Mach-O files, code signatures, notarization tickets and xar
packages itself, through its own stand-ins for lipo, codesign, spctl,
pkgutil and stapler in /usr/libexec/tessarin. tessarin --report prints
the same report, or JSON, for scripts and needs no display.")
include(CPack)
