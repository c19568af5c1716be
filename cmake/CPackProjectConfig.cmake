# Read by cpack before it builds each package (CPACK_PROJECT_CONFIG_FILE).
# The Debian package's dependencies come from dpkg-shlibdeps, which CPack
# runs on the programs, and CPack finds the programs with `file`. Without
# dpkg-shlibdeps CPack only warns and writes a package whose one dependency
# is qt6-qpa-plugins, which installs but cannot start: stop instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  # A program must be executable to count, as for CPack itself.
  if(POLICY CMP0109)
    cmake_policy(SET CMP0109 NEW)
  endif()
  find_program(BRELLIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
  find_program(BRELLIN_FILE_PROGRAM file)
  if(NOT BRELLIN_DPKG_SHLIBDEPS OR NOT BRELLIN_FILE_PROGRAM)
    message(FATAL_ERROR
      "Cannot build the Debian package: dpkg-shlibdeps (Debian package dpkg-dev) and file are needed "
      "to list its dependencies. Install them with scripts/install-deps.sh package.")
  endif()
endif()
