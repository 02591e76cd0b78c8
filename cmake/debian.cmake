# What the Debian package carries beyond the install folder: snxctl on PATH, the manual pages, the
# bash completion, the copyright and changelog files, and the example restart program that the
# postinst copies into place. These files sit outside the install folder, so they are one
# component ("debian") that a plain `cmake --install` leaves out and only cpack installs.
# Included from cmake/install.cmake before CPack.

# The maintainer, once: the package's control file, its changelog and its copyright file.
set(SNX_PACKAGE_MAINTAINER "SNXSVC maintainers <snxsvc@example.org>"
    CACHE STRING "Maintainer of the Debian package: \"Name <address>\"")
set(CPACK_PACKAGE_CONTACT "${SNX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SNX_PACKAGE_MAINTAINER}")
# The long description; CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "SNXSVC watches the applications of one server: its own web pages, web
sites elsewhere and the activity of named programs. When the local side
fails it restarts those programs, resets the web server and checks that
they run again; after too many failed restarts in a row it reboots the
machine and resumes watching afterwards. It alerts people by e-mail and
by telephone and keeps a log, an uptime record and a heartbeat file.
.
The package installs the service snxsvc, the administrator's tool snxctl
and the companion plug-ins in /opt/snxsvc, and registers the service
with systemd without enabling it.")
# Stripped programs and plug-ins: the debug information stays in the build tree.
set(CPACK_STRIP_FILES ON)

# Everything in one package; the "folder" component (the live Sentinex.ini) stays out of it.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified pulse debian)

set(SNX_DEBIAN_STAGE ${PROJECT_BINARY_DIR}/debian/files)
set(SNX_PACKAGE_DOC /usr/share/doc/${CPACK_PACKAGE_NAME})

# snxctl on PATH: an absolute link (it crosses from /usr to /opt). snxctl finds its install
# folder through /proc/self/exe, so the link behaves as the program itself.
file(MAKE_DIRECTORY ${SNX_DEBIAN_STAGE})
file(CREATE_LINK ${SNX_PACKAGE_FOLDER}/snxctl ${SNX_DEBIAN_STAGE}/snxctl SYMBOLIC)
install(FILES ${SNX_DEBIAN_STAGE}/snxctl DESTINATION /usr/sbin COMPONENT debian EXCLUDE_FROM_ALL)

# Manual pages and the changelog, compressed as Debian wants them (gzip -9n: no name, no time).
configure_file(packaging/debian/changelog.in ${SNX_DEBIAN_STAGE}/changelog @ONLY)
configure_file(packaging/debian/copyright.in ${SNX_DEBIAN_STAGE}/copyright @ONLY)
set(SNX_GZIPPED)
foreach(source dist/man/snxsvc.8 dist/man/snxctl.8 ${SNX_DEBIAN_STAGE}/changelog)
  get_filename_component(name ${source} NAME)
  set(zipped ${SNX_DEBIAN_STAGE}/${name}.gz)
  get_filename_component(input ${source} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  add_custom_command(OUTPUT ${zipped} COMMAND sh -c "gzip -9nc \"$0\" >\"$1\"" ${input} ${zipped}
                     DEPENDS ${input} VERBATIM)
  list(APPEND SNX_GZIPPED ${zipped})
endforeach()
add_custom_target(debian_files ALL DEPENDS ${SNX_GZIPPED})
install(FILES ${SNX_DEBIAN_STAGE}/snxsvc.8.gz ${SNX_DEBIAN_STAGE}/snxctl.8.gz
        DESTINATION /usr/share/man/man8 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES dist/bash-completion/snxctl DESTINATION /usr/share/bash-completion/completions
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${SNX_DEBIAN_STAGE}/copyright ${SNX_DEBIAN_STAGE}/changelog.gz
        DESTINATION ${SNX_PACKAGE_DOC} COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES examples/Sentinex.ini DESTINATION examples COMPONENT debian EXCLUDE_FROM_ALL)
