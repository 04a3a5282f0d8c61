# Installs the pinned Flash Player emulator with npm and copies its files into RUFFLE_DIR.
# Run with: cmake -DNPM=... -DRUFFLE_VERSION=... -DWORK_DIR=... -DRUFFLE_DIR=... -DSTAMP=... -P
# A failure (no network, no npm) leaves the client without the emulator: the build goes on, the
# client reports its Flash Player as "Unknown", and the next build tries again (no stamp).
set(package "@ruffle-rs/ruffle")
file(REMOVE_RECURSE "${RUFFLE_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
  COMMAND "${NPM}" install --prefix "${WORK_DIR}" --no-save --no-package-lock --no-audit
          --no-fund --ignore-scripts --loglevel=error "${package}@${RUFFLE_VERSION}"
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
set(installed "${WORK_DIR}/node_modules/${package}")
if(NOT result EQUAL 0 OR NOT EXISTS "${installed}/package.json")
  message(WARNING "npm could not install ${package}@${RUFFLE_VERSION}; the client is built "
                  "without the Flash Player emulator.\n${output}")
  return()
endif()
file(READ "${installed}/package.json" description)
string(JSON version ERROR_VARIABLE json_error GET "${description}" version)
if(NOT version STREQUAL RUFFLE_VERSION)
  message(WARNING "npm installed ${package} ${version} instead of the pinned ${RUFFLE_VERSION}; "
                  "the client is built without the Flash Player emulator.")
  return()
endif()
# The source maps are for debugging the emulator itself; the client does not ship them.
file(COPY "${installed}/" DESTINATION "${RUFFLE_DIR}" PATTERN "*.map" EXCLUDE)
file(WRITE "${STAMP}" "${version}\n")
message(STATUS "Flash Player emulator ${package} ${version} in ${RUFFLE_DIR}")
