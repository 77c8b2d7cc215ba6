# The C++ library for other programs (component development; cmake --install
# only, in no .deb): record_scan.hpp, the static library, a CMake package
# (find_package(record_scan) gives record_scan::record_scan) and a
# pkg-config file, both naming what the library links: the gzip engine
# and libdl, by name.
include(CMakePackageConfigHelpers)
set(package_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/record_scan)

# An installed library may be linked by a build without link-time
# optimisation, or by another compiler: its objects keep machine code
# beside the optimiser's form (the tools link the latter, as before).
if(CMAKE_CXX_COMPILER_ID STREQUAL GNU)
    target_compile_options(record_scan PRIVATE $<$<CONFIG:Release>:-ffat-lto-objects>)
endif()

install(FILES record_scan/record_scan.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(TARGETS record_scan EXPORT record_scan_targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT record_scan_targets NAMESPACE record_scan:: FILE record_scan-targets.cmake
        DESTINATION ${package_cmake_dir} COMPONENT development)
configure_package_config_file(packaging/record_scan-config.cmake.in record_scan-config.cmake
                              INSTALL_DESTINATION ${package_cmake_dir})
write_basic_package_version_file(record_scan-config-version.cmake COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/record_scan-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/record_scan-config-version.cmake
        DESTINATION ${package_cmake_dir} COMPONENT development)

# pkg-config: the prefix found from the file's own place, so that one built
# for /usr/local still holds installed with --prefix elsewhere.
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR})
    message(FATAL_ERROR "record_scan.pc wants CMAKE_INSTALL_LIBDIR and CMAKE_INSTALL_INCLUDEDIR relative to the prefix")
endif()
file(RELATIVE_PATH pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" pc_to_prefix ${pc_to_prefix})
if(STRUCTURE_TOOLS_INFLATER_LIBRARY STREQUAL isal)
    set(pc_inflater -lisal)
else()
    set(pc_inflater -lz)
endif()
set(pc_dl)
foreach(library ${CMAKE_DL_LIBS})
    string(APPEND pc_dl " -l${library}")
endforeach()
configure_file(packaging/record_scan.pc.in record_scan.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/record_scan.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
