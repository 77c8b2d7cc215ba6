# cpack: two .debs with their files under /usr, structure-tools (the tools,
# their manual pages) and python3-record-scan (the Python module, when it is
# built), and a .tar.gz of the tools whose one top directory,
# structure-tools-VERSION-ARCH/, holds bin/ and share/ directly. The C++
# library (component development) is for cmake --install only.
set(CPACK_PACKAGE_NAME structure-tools)
set(CPACK_PACKAGE_VENDOR "The structure-tools authors")
set(CPACK_PACKAGE_CONTACT "maintainers@users.noreply.c-seed-56b8a127.example")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "coordinate tools for PDB and PQR structure files")
set(CPACK_PACKAGE_DESCRIPTION
"boxreach reports how far the atoms of a structure file reach, per axis,
from a given centre; xyzdump writes the X, Y and Z coordinates of every
atom as CSV rows. Both read the fixed-column PDB layout and its PQR
variant, stream the file once in constant memory, and answer 1 for a
complete run and 2 for a failure.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The structure-tools authors <${CPACK_PACKAGE_CONTACT}>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps sees only the libraries loaded at start; those of bzip2, xz
# and zstd are opened when an input needs them.
set(decoder_packages "libbz2-1.0, liblzma5, libzstd1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE structure-tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME structure-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS ${decoder_packages})
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
if(STRUCTURE_TOOLS_PYTHON_MODULE)
    list(APPEND CPACK_COMPONENTS_ALL python)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-record-scan)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    # Removing the package removes the bytecode its imports left.
    set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/python3-record-scan/prerm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    # The extension is built for one Python version's ABI.
    set(python_version ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
    math(EXPR python_next_minor "${Python3_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
        "python3 (>= ${python_version}), python3 (<< ${Python3_VERSION_MAJOR}.${python_next_minor}), python3-numpy, ${decoder_packages}")
    set(CPACK_COMPONENT_PYTHON_DESCRIPTION
"atom coordinates of structure files as numpy arrays
The Python module record_scan reads the atoms of PDB, PQR, mmCIF,
BinaryCIF and MMTF files, plain or compressed with gzip, bzip2, xz or
zstd, into float32 numpy arrays: coordinates(source) gives every atom's
X, Y and Z, batches(source) the same rows in arrays of bounded size, and
reach(source, centre) the reach of the atoms about a centre, the values
of the boxreach and xyzdump tools. A source is a path, bytes in memory or
a binary file object; the scan lets go of the GIL, so threads read many
files at once.")
endif()
# The tarball holds the tools alone (packaging/cpack_per_generator.cmake).
configure_file(packaging/cpack_per_generator.cmake.in cpack_per_generator.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack_per_generator.cmake)
# Left unset, the prefix is /usr for the .deb and the top directory for
# the tarball.
unset(CPACK_PACKAGING_INSTALL_PREFIX)
# The tests and benchmark helpers are never installed.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/")

# The copyright file (Debian's machine-readable layout, the licence text
# taken from LICENSE) and the changelog, where Debian policy puts them.
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(FIND "${license_text}" "Permission is hereby granted" permission_start)
string(SUBSTRING "${license_text}" ${permission_start} -1 license_paragraphs)
string(STRIP "${license_paragraphs}" license_paragraphs)
string(REPLACE "\n\n" "\n.\n" license_paragraphs "${license_paragraphs}")
string(REPLACE "\n" "\n " license_paragraphs " ${license_paragraphs}")
configure_file(packaging/copyright.in copyright @ONLY)

# A changelog whose newest entry names another version would mislead.
file(STRINGS packaging/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^${CPACK_PACKAGE_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog: the newest entry is not ${PROJECT_VERSION}: ${changelog_head}")
endif()
add_custom_command(OUTPUT changelog.gz
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > changelog.gz
    DEPENDS packaging/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${doc_dir} COMPONENT tools)
if(STRUCTURE_TOOLS_PYTHON_MODULE)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-record-scan COMPONENT python)
endif()

include(CPack)
