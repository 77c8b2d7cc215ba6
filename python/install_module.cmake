# Installs the package record_scan, run by cmake --install (and cpack) with
# record_scan_python (the interpreter the module was built for),
# record_scan_files (its pure files) and record_scan_module (the extension).
# The folder is asked of that interpreter now that the prefix is known;
# file(INSTALL) adds DESTDIR and lists each file in install_manifest.txt.
execute_process(COMMAND ${record_scan_python} ${CMAKE_CURRENT_LIST_DIR}/site_dir.py ${CMAKE_INSTALL_PREFIX}
                OUTPUT_VARIABLE record_scan_site_dir OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE record_scan_status)
if(NOT record_scan_status EQUAL 0 OR NOT record_scan_site_dir)
    message(FATAL_ERROR "record_scan: ${record_scan_python} named no package folder under ${CMAKE_INSTALL_PREFIX}")
endif()
file(INSTALL ${record_scan_files} ${record_scan_module}
     DESTINATION ${record_scan_site_dir}/record_scan
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
