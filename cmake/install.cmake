# Installing: one folder holds everything, as the service expects (its own folder is its install
# folder). `cmake --install build --prefix DIR` lays it out; `cpack -G DEB` packs the same
# folder as /opt/snxsvc with maintainer scripts that register the service.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/snxsvc CACHE PATH "Install folder" FORCE)
endif()

install(TARGETS snxsvc snxctl RUNTIME DESTINATION .)
install(TARGETS qor_perf qor_pulse snx_report qor_voice_alert qor_assure LIBRARY DESTINATION .)
# The example restart program: comments and empty sections only, writable by its owner only.
# The package ships it in examples/ and its postinst copies it into place when there is none, so
# that the administrator's file survives upgrades (cmake/debian.cmake).
install(FILES examples/Sentinex.ini DESTINATION . COMPONENT folder
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The dial commands: copy one as "voice-dial" to turn the phone alerts on.
install(PROGRAMS examples/voice-dial.record examples/voice-dial.baresip DESTINATION examples)
install(FILES README.md DESTINATION doc)
install(DIRECTORY docs/ DESTINATION doc FILES_MATCHING PATTERN "*.md")

set(SNX_PACKAGE_FOLDER /opt/snxsvc)
set(SNX_DEBIAN_SCRIPTS ${PROJECT_BINARY_DIR}/debian)
foreach(script postinst prerm postrm)
  configure_file(packaging/debian/${script}.in ${SNX_DEBIAN_SCRIPTS}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME snxsvc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "SNXSVC")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "server watchdog that restarts failing applications")
set(CPACK_PACKAGING_INSTALL_PREFIX ${SNX_PACKAGE_FOLDER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "systemd, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${SNX_DEBIAN_SCRIPTS}/postinst ${SNX_DEBIAN_SCRIPTS}/prerm ${SNX_DEBIAN_SCRIPTS}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(cmake/debian.cmake)
include(CPack)
