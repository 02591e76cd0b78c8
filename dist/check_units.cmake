# Checks of the shipped systemd units, run by ctest in script mode (cmake -P):
#   -DCHECK=install -DBUILD_DIR=... -DUNIT_DIR=... -DSNXCTL=...: the pulse component installed
#     into a scratch prefix puts the timer and its service in the unit folder, the service
#     starting the configured snxctl (none configured: the prefix's own);
#   -DCHECK=verify -DUNITS=a;b: systemd-analyze verify accepts them ("skipped" without it).
if(CHECK STREQUAL "verify")
  find_program(ANALYZE systemd-analyze)
  if(NOT ANALYZE)
    message("systemd-analyze absent: skipped")
    return()
  endif()
  execute_process(COMMAND ${ANALYZE} verify ${UNITS} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "systemd-analyze verify refused the units (${rc})")
  endif()
  return()
endif()

set(prefix ${BUILD_DIR}/dist/install-check)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component pulse --prefix ${prefix}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install of the pulse component failed (${rc})")
endif()
if(NOT EXISTS ${prefix}/${UNIT_DIR}/snxsvc-pulse.timer)
  message(FATAL_ERROR "snxsvc-pulse.timer is not installed in ${UNIT_DIR}")
endif()
if(NOT SNXCTL)
  set(SNXCTL ${prefix}/snxctl)
endif()
file(STRINGS ${prefix}/${UNIT_DIR}/snxsvc-pulse.service exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${SNXCTL} pulse")
  message(FATAL_ERROR "the installed service starts '${exec}', not '${SNXCTL} pulse'")
endif()
file(REMOVE_RECURSE ${prefix})
