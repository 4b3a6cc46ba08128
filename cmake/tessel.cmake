# Build functions shared by every folder.

# Where an installed program finds the shared objects: the lib folder, named
# relative to the program's own folder so the installed tree can be moved.
file(RELATIVE_PATH tessel_bin_to_lib
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(TESSEL_PROGRAM_RPATH "$ORIGIN/${tessel_bin_to_lib}")

# A shared object exports only what its headers mark TESSEL_API: hidden
# visibility hides the rest of our code, and the version script keeps out the
# standard-library templates that compilers instantiate with default
# visibility. Undefined symbols are link errors, not load-time surprises.
# C_API <pattern>... adds C names (glob patterns, "th03_*") for a companion
# whose API is plain C: the shared map admits only names in namespace tessel.
function(tessel_export_only_api target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "C_API")
  set(map ${PROJECT_SOURCE_DIR}/cmake/exports.map)
  if(arg_C_API)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${map})
    file(READ ${map} text)
    list(JOIN arg_C_API ";\n    " c_names)
    string(REPLACE "global:" "global:\n    ${c_names};" text "${text}")
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map)
    file(WRITE ${map} "${text}")
  endif()
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  # (clang links its sanitizer runtimes into programs only, so a fuzzing
  # build's shared objects rely on the program for them)
  if(NOT TESSEL_FUZZ)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()

# libtessel is made only of tessel_objects, so that the internal library has
# the same code: a source added to `tessel` itself would be missing there.
function(tessel_check_objects_only target)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "^\\$<TARGET_OBJECTS:")
      message(FATAL_ERROR "${source} was added to ${target}; add it to tessel_objects instead")
    endif()
  endforeach()
endfunction()

# tessel_companion_library(<target> SOURCES <source>... [LINK <target>...]
#                          [PACKAGE <name>] [VERSIONED] [C_API <pattern>...])
#
# A shared object that lies beside libtessel, in the build tree
# (${PROJECT_BINARY_DIR}/lib) and when installed (the same lib folder): the
# simulator library, the simulated GPIB and logger libraries, the console's
# window module. The file is lib<target>.so, found at run time with
# BesideTessel("lib<target>.so") (ports/shared_library.h) or linked by name.
#   SOURCES    its sources; it sees the public headers and the source tree.
#   LINK       what it links (PRIVATE). A companion that calls into Tessel
#              links `tessel`: only black-box test programs may then load it
#              (see tests/CMakeLists.txt).
#   PACKAGE    also install it as the imported target Tessel::<name> of the
#              CMake package (for libraries that users link at build time).
#   VERSIONED  lib<target>.so.<major> with a SONAME, like libtessel; leave it
#              out for objects that are only loaded at run time by file name.
#   C_API      the C functions it exports, as patterns ("th03_*"), for a
#              library whose API is plain C (a replacement of a vendor's).
# Like libtessel it exports only what is marked TESSEL_API (a C API marks
# each function it offers) and finds its own companions beside itself.
function(tessel_companion_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "VERSIONED" "PACKAGE" "SOURCES;LINK;C_API")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_SOURCES)
    message(FATAL_ERROR "tessel_companion_library(${target} SOURCES ... [LINK ...] [PACKAGE name] [VERSIONED] [C_API pattern ...])")
  endif()
  add_library(${target} SHARED ${arg_SOURCES})
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PRIVATE ${arg_LINK})
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(arg_VERSIONED)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  tessel_export_only_api(${target} C_API ${arg_C_API})
  if(NOT TESSEL_FUZZ)
    if(arg_PACKAGE)
      set_target_properties(${target} PROPERTIES EXPORT_NAME ${arg_PACKAGE})
      target_compile_features(${target} PUBLIC cxx_std_20)
      install(TARGETS ${target} EXPORT TesselTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    else()
      install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    endif()
  endif()
endfunction()

# cmake --install: headers, libraries, the tessel command, the CMake package
# (Tessel::tessel, Tessel::sim) and the pkg-config files.
function(tessel_install_package)
  include(CMakePackageConfigHelpers)
  set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tessel)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tessel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(TARGETS tessel EXPORT TesselTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(TARGETS tessel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(EXPORT TesselTargets NAMESPACE Tessel:: DESTINATION ${cmake_dir})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TesselConfig.cmake.in
    ${PROJECT_BINARY_DIR}/TesselConfig.cmake INSTALL_DESTINATION ${cmake_dir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/TesselConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/TesselConfig.cmake ${PROJECT_BINARY_DIR}/TesselConfigVersion.cmake
    DESTINATION ${cmake_dir})
  # Written at install time, so that the prefix is the one installed to
  # (cmake --install --prefix), and the run-time path with it.
  foreach(pc tessel tessel-sim)
    install(CODE "
      set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
      set(libdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
      set(includedir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
      set(version ${PROJECT_VERSION})
      configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
      file(INSTALL ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION \"\${libdir}/pkgconfig\")")
  endforeach()
endfunction()
