# SPDX-License-Identifier: MIT
# The libraries other programs may link: built shared, with a SONAME, their
# public headers installed under include/crtc-relay/, a pkg-config file
# each, and their targets exported for find_package(CrtcRelay).

# The SONAME's number. Raise it with any change that breaks a program built
# against the previous release (see "Linking the libraries" in the README).
set(CRTC_RELAY_SOVERSION 0)
set(CRTC_RELAY_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/crtc-relay)
set(CRTC_RELAY_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/CrtcRelay)

# crtc_relay_public_library(TARGET NAME DESCRIPTION HEADERS... [REQUIRES pc-modules...])
# TARGET, already added as a SHARED library, is installed as libNAME.so.
function(crtc_relay_public_library target name description)
  cmake_parse_arguments(PARSE_ARGV 3 arg "" "" "HEADERS;REQUIRES")
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${CRTC_RELAY_SOVERSION}
    EXPORT_NAME ${target})
  # A consumer needs the headers' standard too.
  target_compile_features(${target} PUBLIC cxx_std_20)
  # Calls between the library's own functions stay inside it.
  target_link_options(${target} PRIVATE LINKER:-Bsymbolic-functions LINKER:--no-undefined)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT CrtcRelayTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${target}_runtime
      NAMELINK_COMPONENT dev)
  install(FILES ${arg_HEADERS} DESTINATION ${CRTC_RELAY_INSTALL_INCLUDEDIR} COMPONENT dev)

  # pkg-config: relative to its own place, so a moved tree still works.
  file(RELATIVE_PATH PC_PREFIX_FROM_PCDIR
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" PC_PREFIX_FROM_PCDIR "${PC_PREFIX_FROM_PCDIR}")
  set(PC_NAME ${name})
  set(PC_DESCRIPTION "${description}")
  list(JOIN arg_REQUIRES " " PC_REQUIRES)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endfunction()
