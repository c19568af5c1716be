# cmake --install: the programs in bin/, their data (sound font, default skin,
# demo song) in share/brellin/, where an installed brellin looks for them
# (its own folder under /usr is not writable), and what the desktop needs:
# desktop entry, icons, AppStream metainfo, MIME package, man pages.
# cpack -G DEB packs the same tree.
include(GNUInstallDirs)

set(_data ${CMAKE_INSTALL_DATADIR}/brellin)
set(_assets ${PROJECT_SOURCE_DIR}/assets)

foreach(_program brellin brellin-render brellin-synth brf-tool)
  if(TARGET ${_program})
    install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # A stripped install (cpack, cmake --install --strip) also drops the
    # compiler's version notes, as Debian's own packages do.
    if(CMAKE_STRIP)
      install(CODE "
        if(CMAKE_INSTALL_DO_STRIP)
          execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${_program}\")
        endif()")
    endif()
  endif()
endforeach()

install(FILES ${CMAKE_BINARY_DIR}/small.brf ${_assets}/demo.mid DESTINATION ${_data})
if(TARGET default-skin)
  install(FILES ${CMAKE_BINARY_DIR}/Brellin.ini ${CMAKE_BINARY_DIR}/BrellinBack.bmp
                ${CMAKE_BINARY_DIR}/BrellinParts.bmp DESTINATION ${_data})
  foreach(_size 16 32 48 64)
    install(FILES ${CMAKE_BINARY_DIR}/brellin-${_size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME brellin.png)
  endforeach()
endif()

# brellin-synth as a systemd user service (systemctl --user enable --now brellin-synth).
if(TARGET brellin-synth)
  install(FILES ${_assets}/install/brellin-synth.service DESTINATION lib/systemd/user)
endif()
install(FILES ${_assets}/install/brellin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_assets}/install/org.brellin.Brellin.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_assets}/install/brellin-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME brellin.xml)
# Man pages go compressed (gzip -n: no time stamp, the same bytes each build).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(_man_pages)
foreach(_page brellin brellin-render brellin-synth brf-tool)
  set(_gz ${CMAKE_BINARY_DIR}/man/${_page}.1.gz)
  add_custom_command(OUTPUT ${_gz}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
                     COMMAND ${GZIP_PROGRAM} -n -9 -c ${_assets}/man/${_page}.1 > ${_gz}
                     DEPENDS ${_assets}/man/${_page}.1
                     COMMENT "Compressing the man page ${_page}.1")
  list(APPEND _man_pages ${_gz})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${_man_pages})
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's changelog and copyright, where Debian keeps them (the
# project is "Brellin", so CMAKE_INSTALL_DOCDIR would be share/doc/Brellin).
# The changelog is Debian's format; its newest entry names the version being
# built, or the package would contradict its own history.
set(BRELLIN_PACKAGE_MAINTAINER "Brellin developers <maintainer@brellin.invalid>" CACHE STRING
    "Maintainer of the Debian package, \"Name <address>\" (the default is a placeholder)")
set(_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/brellin)
file(STRINGS ${_assets}/install/changelog.in _newest LIMIT_COUNT 1)
string(REGEX MATCH "^brellin \\(([^)]*)\\) " _entry "${_newest}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "assets/install/changelog.in: its newest entry is version '${CMAKE_MATCH_1}', the "
                      "project's is ${PROJECT_VERSION}; add an entry for it")
endif()
configure_file(${_assets}/install/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
set(_changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
                   COMMAND ${GZIP_PROGRAM} -n -9 -c ${CMAKE_BINARY_DIR}/doc/changelog > ${_changelog}
                   DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog
                   COMMENT "Compressing the package changelog")
add_custom_target(package-docs ALL DEPENDS ${_changelog})
install(FILES ${_changelog} ${_assets}/install/copyright DESTINATION ${_doc})
install(FILES ${_assets}/install/brellin.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME brellin)

# The Debian package: dependencies from the programs' shared libraries.
set(CPACK_PACKAGE_NAME brellin)
set(CPACK_PACKAGE_VENDOR "Brellin")
set(CPACK_PACKAGE_CONTACT "${BRELLIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRELLIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MIDI file player with its own wavetable synthesizer")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brellin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION
    "Brellin plays MIDI files and play lists in a small skinned window, on its\nown integer wavetable synthesizer. brellin-render plays or renders them\nfrom a terminal; brf-tool builds and converts its sound fonts.")
# Qt loads its window-system plugin (xcb, wayland) at run time: no library
# links it, so the shared-library scan cannot find it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# cpack stops when dpkg-shlibdeps is missing rather than package without
# the dependencies it finds.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackProjectConfig.cmake)
set(CPACK_GENERATOR DEB)
include(CPack)
