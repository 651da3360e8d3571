# Installation extras and the Debian package.
#
#   cmake --install build --prefix /usr/local   binary, manual page, bash completion, licence
#   cd build && cpack -G DEB                     sveltery_<version>_<arch>.deb
#
# The binary's own install rule lives in src/CMakeLists.txt.

include(GNUInstallDirs)

set(SVELTERY_MANPAGE ${PROJECT_SOURCE_DIR}/docs/sveltery.1)
set(SVELTERY_COMPLETION ${PROJECT_SOURCE_DIR}/completions/sveltery)

# Manual page, compressed as Debian policy wants it. It is compressed while
# configuring, so any build (even of the sveltery target alone) can be
# installed; an edit of the page makes the next build configure again.
# -n keeps the name and time stamp out of the archive: the .deb stays
# reproducible.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SVELTERY_MANPAGE})
find_program(SVELTERY_GZIP gzip)
set(manpage_to_install ${SVELTERY_MANPAGE})
if(SVELTERY_GZIP)
  set(manpage_gz ${PROJECT_BINARY_DIR}/docs/sveltery.1.gz)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/docs)
  execute_process(
    COMMAND ${SVELTERY_GZIP} -9 -n -c ${SVELTERY_MANPAGE}
    OUTPUT_FILE ${manpage_gz}
    RESULT_VARIABLE gzip_result)
  if(gzip_result EQUAL 0)
    set(manpage_to_install ${manpage_gz})
  else()
    message(WARNING "gzip failed (${gzip_result}); installing the manual page uncompressed")
  endif()
endif()

# Directories these rules create stay searchable whatever the installer's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(FILES ${manpage_to_install}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${SVELTERY_COMPLETION}
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The licence, where Debian keeps every package's copyright notice.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sveltery
  RENAME copyright
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# --- Debian package ---------------------------------------------------------

set(CPACK_PACKAGE_NAME sveltery)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Sveltery maintainers")
set(CPACK_PACKAGE_CONTACT "Sveltery maintainers <maintainers@sveltery.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "optimizer that shrinks HTML, PHP, JPEG, CSS and JavaScript web content")
set(CPACK_PACKAGE_DESCRIPTION
  "sveltery writes smaller copies of web pages and images into an output
directory, mirroring the input tree; the input files are never modified.

HTML and PHP pages lose their comments, upper-case document-type
declarations, META tags without an http-equiv or charset attribute and
redundant white space. Scripts, style sheets, preformatted text and PHP
code blocks pass through unchanged.

JPEG images lose the application and comment segments in front of the
image data; the image data itself is copied byte for byte, or, with --safe,
re-encoded without loss (the same pixels) when that makes it smaller.

Other files can be copied unchanged, so the output is a complete copy of
a site ready to publish.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The staged tree's directories must not depend on the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Sveltery maintainers <maintainers@sveltery.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

find_program(SVELTERY_DPKG dpkg)
if(SVELTERY_DPKG)
  execute_process(
    COMMAND ${SVELTERY_DPKG} --print-architecture
    OUTPUT_VARIABLE deb_arch
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE dpkg_result)
  if(dpkg_result EQUAL 0 AND deb_arch)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
  endif()
endif()

# Exact library versions come from dpkg-shlibdeps where it is present.
find_program(SVELTERY_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SVELTERY_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6, libstdc++6, libjpeg62-turbo, libbrotli1, libdeflate0, libzstd1")
endif()

include(CPack)
