# Installation and the Debian package, included at the end of the top
# CMakeLists.txt (after every target exists).
#
# `cmake --install` puts the programs, their manual pages, the desktop entry,
# the AppStream metadata, the icon, the copyright file and the changelog in
# the usual places; `cpack` in the build folder makes
# vesktarvelo_<version>_<arch>.deb, its dependencies computed by
# dpkg-shlibdeps (Debian's dpkg-dev).
#
# Another program joins the package with one line below:
#   vesk_package_program(<target> COMMAND <command name>)
# which installs it, builds it with the distribution's hardening flags and
# installs packaging/man/<command name>.1 as its manual page.
if(NOT TARGET vesktarvelo)
  return()
endif()
include(GNUInstallDirs)
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

set(VESK_APP_ID example.vesktarvelo.VeskTarvelo)
set(VESK_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VESK_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(VESK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vesktarvelo)
file(MAKE_DIRECTORY ${VESK_PACKAGING_OUT}/man)
find_program(VESK_GZIP gzip REQUIRED)

# ---- the distribution's build flags ------------------------------------------
# Debian builds packages with the flags dpkg-buildflags gives (with every
# hardening feature: stack protector, fortified functions, read-only
# relocations bound at start-up; PIE is the compiler's default and is asked
# for below as well for the programs). They are applied to each packaged
# program and to the project's libraries linked into it (the benchmarks,
# which link the same libraries, measure the code that ships). The build type keeps the optimisation
# level and the debug information; fortification needs an optimising build
# and is left out of a Debug one (glibc would warn, and warnings are errors
# there), as is the source path mapping, so that a debugger finds the sources.
option(VESK_DISTRIBUTION_FLAGS "Build the packaged programs with dpkg-buildflags' hardening flags" ON)
find_program(VESK_DPKG_BUILDFLAGS dpkg-buildflags)
set(VESK_DIST_COMPILE_FLAGS)
set(VESK_DIST_LINK_FLAGS)
if(VESK_DISTRIBUTION_FLAGS AND VESK_DPKG_BUILDFLAGS)
  set(_optimising TRUE)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR CMAKE_BUILD_TYPE STREQUAL "")
    set(_optimising FALSE)
  endif()
  foreach(_var CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${VESK_DPKG_BUILDFLAGS} --get ${_var}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE _flags
      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    foreach(_flag IN LISTS _flags)
      if(_flag MATCHES "^-O|^-g")
        continue()  # the build type's
      endif()
      if(NOT _optimising AND _flag MATCHES "^-D_FORTIFY_SOURCE|^-ffile-prefix-map|^-fdebug-prefix-map")
        continue()
      endif()
      if(_var STREQUAL "LDFLAGS")
        list(APPEND VESK_DIST_LINK_FLAGS ${_flag})
      else()
        list(APPEND VESK_DIST_COMPILE_FLAGS ${_flag})
      endif()
    endforeach()
  endforeach()
  message(STATUS "Distribution flags for the packaged programs: ${VESK_DIST_COMPILE_FLAGS} ${VESK_DIST_LINK_FLAGS}")
elseif(VESK_DISTRIBUTION_FLAGS)
  message(STATUS "dpkg-buildflags not found: the packaged programs are built without the distribution's flags")
endif()

# The flags on a target and on every library of this project it links,
# however deep; each library once.
function(vesk_apply_distribution_flags target)
  get_property(_done GLOBAL PROPERTY VESK_DIST_FLAGGED)
  if(target IN_LIST _done)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY VESK_DIST_FLAGGED ${target})
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE ${VESK_DIST_COMPILE_FLAGS})
  if(_type STREQUAL "EXECUTABLE")
    # -fPIE and -pie. Not on the libraries: there the property would mean
    # -fPIC, slower code (every global function interposable) for nothing;
    # they are compiled as PIE by Debian's compiler, or by -fPIE in the
    # flags above where a compiler does not default to it.
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(${target} PRIVATE ${VESK_DIST_LINK_FLAGS})
  endif()
  get_target_property(_libs ${target} LINK_LIBRARIES)
  foreach(_lib IN LISTS _libs)
    if(TARGET ${_lib})
      get_target_property(_imported ${_lib} IMPORTED)
      get_target_property(_aliased ${_lib} ALIASED_TARGET)
      if(_aliased)
        set(_lib ${_aliased})
      endif()
      if(NOT _imported)
        vesk_apply_distribution_flags(${_lib})
      endif()
    endif()
  endforeach()
endfunction()

# ---- the programs and their manual pages ---------------------------------------
# vesk_package_program(<target> COMMAND <name>)
# Installs <target> into bin; its manual page is packaging/man/<COMMAND>.1
# (@PROJECT_VERSION@ in it is replaced), installed compressed as
# man1/<COMMAND>.1.gz. When the executable's file name is not <COMMAND>, the
# command is installed as a symbolic link to it, with its manual page
# likewise.
function(vesk_package_program target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "COMMAND" "")
  vesk_apply_distribution_flags(${target})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install (cpack's) also drops the compilers' version notes,
  # as Debian's own packaging does.
  if(CMAKE_OBJCOPY)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${target}>\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()")
  endif()

  set(_page ${VESK_PACKAGING_OUT}/man/${ARG_COMMAND}.1)
  configure_file(${VESK_PACKAGING_DIR}/man/${ARG_COMMAND}.1 ${_page} @ONLY)
  add_custom_command(
    OUTPUT ${_page}.gz
    COMMAND ${VESK_GZIP} -9nkf ${_page}
    DEPENDS ${_page}
    COMMENT "Compressing the manual page ${ARG_COMMAND}.1"
    VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${_page}.gz)
  install(FILES ${_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  get_target_property(_file ${target} OUTPUT_NAME)
  if(NOT _file)
    set(_file ${target})
  endif()
  if(NOT _file STREQUAL ARG_COMMAND)
    # Relative links, made in the build folder and installed as they are.
    file(MAKE_DIRECTORY ${VESK_PACKAGING_OUT}/links/bin ${VESK_PACKAGING_OUT}/links/man)
    file(CREATE_LINK ${_file} ${VESK_PACKAGING_OUT}/links/bin/${ARG_COMMAND} SYMBOLIC)
    file(CREATE_LINK ${ARG_COMMAND}.1.gz ${VESK_PACKAGING_OUT}/links/man/${_file}.1.gz SYMBOLIC)
    install(FILES ${VESK_PACKAGING_OUT}/links/bin/${ARG_COMMAND} DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${VESK_PACKAGING_OUT}/links/man/${_file}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endfunction()

# The window program. Its file stays bin/VeskTarvelo: the settings file is
# named for the executable (~/.config/VeskTarvelo/VeskTarvelo.conf) and must
# not move for those who have one; `vesktarvelo` is a link to it, which the
# settings follow to the same file.
vesk_package_program(vesktarvelo COMMAND vesktarvelo)
# The command-line client.
if(TARGET vesktarvelo-cli)
  vesk_package_program(vesktarvelo-cli COMMAND vesktarvelo-cli)
endif()

# ---- desktop integration and documentation --------------------------------------
install(FILES ${VESK_PACKAGING_DIR}/${VESK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VESK_PACKAGING_DIR}/${VESK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${VESK_PACKAGING_DIR}/${VESK_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${VESK_PACKAGING_DIR}/copyright DESTINATION ${VESK_DOC_DIR})
# Debian keeps a native package's changelog as changelog.gz, compressed
# without a name or time stamp so that the package is reproducible.
add_custom_command(
  OUTPUT ${VESK_PACKAGING_OUT}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${VESK_PACKAGING_DIR}/changelog ${VESK_PACKAGING_OUT}/changelog
  COMMAND ${VESK_GZIP} -9nf ${VESK_PACKAGING_OUT}/changelog
  DEPENDS ${VESK_PACKAGING_DIR}/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(vesktarvelo_changelog ALL DEPENDS ${VESK_PACKAGING_OUT}/changelog.gz)
install(FILES ${VESK_PACKAGING_OUT}/changelog.gz DESTINATION ${VESK_DOC_DIR})

# ---- the Debian package ---------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vesktarvelo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "VeskTarvelo developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Modbus master test tool")
# Read here rather than through CPACK_PACKAGE_DESCRIPTION_FILE, which cpack
# escapes for XML (an apostrophe became &apos; in the control file).
file(READ ${VESK_PACKAGING_DIR}/description.txt CPACK_DEBIAN_PACKAGE_DESCRIPTION)
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vesktarvelo.example/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "VeskTarvelo developers <maintainers@vesktarvelo.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its window-system plugin at run time, where dpkg-shlibdeps
# cannot see it; Qt's own packages only recommend it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
