# Installing and packaging: the zip for Windows users, and on Linux
# `cmake --install` and the Debian package. Included by CMakeLists.txt after
# the program is defined.
if(WIN32)
  # The zip for Windows users: quarvel.exe, a README for them and the manual
  # as plain text (ASCII, CR LF), the licence and the examples gallery, each
  # document beside its output as text. Packaging takes the tree as the last
  # build left it. With -c -b -u grotty writes no escape sequences and no bold
  # or underline overstrikes, but still composes glyphs such as the bullet by
  # overstriking (+, backspace, o): the first sed keeps the last character.
  find_program(QUARVEL_GROFF groff REQUIRED)
  add_custom_command(OUTPUT quarvel.txt
                     COMMAND sh -c "'${QUARVEL_GROFF}' -man -Tascii -P-cbu '${CMAKE_SOURCE_DIR}/man/quarvel.1' | sed 's/.\\x08//g; s/$/\\r/' >quarvel.txt"
                     DEPENDS ${CMAKE_SOURCE_DIR}/man/quarvel.1 VERBATIM)
  add_custom_command(OUTPUT README.txt
                     COMMAND sh -c "sed 's/$/\\r/' '${CMAKE_SOURCE_DIR}/packaging/windows/README.txt' >README.txt"
                     DEPENDS ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt VERBATIM)
  add_custom_target(zip_texts ALL DEPENDS quarvel.txt README.txt)
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  install(TARGETS quarvel RUNTIME DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/quarvel.txt DESTINATION .)
  install(FILES LICENSE DESTINATION . RENAME LICENSE.txt)
  install(DIRECTORY examples/ DESTINATION examples FILES_MATCHING PATTERN "*.xml" PATTERN "*.txt")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME quarvel)
  set(CPACK_PACKAGE_FILE_NAME quarvel-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
else()
  # Installation and the Debian package: bin/quarvel, its manual page, the
  # copyright file, the README and the examples gallery (each document beside
  # its output as text); the package adds the Debian changelog. dpkg-shlibdeps works
  # out the runtime dependencies (libexpat1, libstdc++6, ...) from the libraries
  # that the binary links; libcurl4, which quarvel loads only when it reads a
  # URL, is declared by hand. Installing and packaging never build: they take the
  # tree as the last build left it.
  set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  include(GNUInstallDirs)
  set(QUARVEL_MAINTAINER "quarvel maintainers <maintainers@quarvel.invalid>")
  configure_file(packaging/changelog.in packaging/changelog @ONLY)
  # Compressed as Debian wants them: gzip -9n stores no name and no time, so
  # every build makes the same bytes.
  find_program(QUARVEL_GZIP gzip REQUIRED)
  foreach(doc ${CMAKE_SOURCE_DIR}/man/quarvel.1 ${CMAKE_BINARY_DIR}/packaging/changelog)
    get_filename_component(name ${doc} NAME)
    add_custom_command(OUTPUT doc/${name}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${doc} doc/${name}
                       COMMAND ${QUARVEL_GZIP} -9nf doc/${name}
                       DEPENDS ${doc} VERBATIM)
    list(APPEND compressed doc/${name}.gz)
  endforeach()
  add_custom_command(OUTPUT doc/README.md
                     COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}/README.md
                             -DTARGET=doc/README.md -P ${CMAKE_SOURCE_DIR}/cmake/installed_readme.cmake
                     DEPENDS ${CMAKE_SOURCE_DIR}/README.md
                             ${CMAKE_SOURCE_DIR}/cmake/installed_readme.cmake VERBATIM)
  add_custom_target(compressed_docs ALL DEPENDS ${compressed} doc/README.md)

  install(TARGETS quarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/doc/quarvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/doc/README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The grammar of quarvel documents, where XML editors look for schemas.
  install(FILES schema/quarvel.rng DESTINATION ${CMAKE_INSTALL_DATADIR}/xml/quarvel)
  install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
          FILES_MATCHING PATTERN "*.xml" PATTERN "*.txt")
  # Only the package: installed by hand, quarvel has no Debian history.
  install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME quarvel)
  set(CPACK_PACKAGE_CONTACT "${QUARVEL_MAINTAINER}")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lays out text in fixed-width columns from an XML document")
  # CPack puts the summary before it as the first line (the newline right after
  # [[ is not part of the text).
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
quarvel reads one XML document, a file or an http or https URL, whose
elements say how to lay out its text: alignment, width and margins,
underlining, spaces and breaks, preformatted passages, unbreakable runs and
columns side by side.

Every character takes one or two columns, and lines are filled character by
character as Japanese text is set, with closing punctuation hanging into the
right margin and opening brackets carried to the next line. The result is
UTF-16 little-endian text with a byte-order mark and CR LF line ends, for
consoles, printers and programs that expect exactly that.]])
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # dpkg-shlibdeps knows only the upstream version of expat that has the calls
  # quarvel makes; the Debian revision that no longer overflows its stack on a
  # deep chain of entities is named by hand (CPack puts it before what
  # dpkg-shlibdeps derives, where libexpat1 appears again with its weaker bound).
  file(STRINGS packaging/expat-minimum-version QUARVEL_EXPAT_MINIMUM REGEX "^[^#]")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS packaging/expat-minimum-version)
  # libcurl is loaded at run time (src/document/curl_library_dlopen.cc), out of
  # dpkg-shlibdeps' sight: 7.66.0 is the first version with every call that
  # quarvel makes (curl_multi_poll the last of them).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libexpat1 (>= ${QUARVEL_EXPAT_MINIMUM}), libcurl4 (>= 7.66.0)")
  # One package of both components: the default one and "debian".
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  include(CPack)
endif()
