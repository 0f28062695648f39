# Installs the logger and its systemd units with the paths of the prefix the install runs for:
# the logger's default request, the units' command. Run by `cmake --install`, which sets
# CMAKE_INSTALL_PREFIX (and DESTDIR, for a package's staging folder).
foreach(relative IN ITEMS bindir datadir unitdir)
  if(IS_ABSOLUTE "${quaywatch_${relative}}")
    set(${relative} "${quaywatch_${relative}}")
  else()
    set(${relative} "${CMAKE_INSTALL_PREFIX}/${quaywatch_${relative}}")
  endif()
endforeach()

file(READ "${quaywatch_source_dir}/examples/quaywatch-log" logger)
set(in_tree_request [[default_request=$(dirname "$0")/request.xml]])
string(FIND "${logger}" "${in_tree_request}" request_line)
if(request_line LESS 0)
  message(FATAL_ERROR "examples/quaywatch-log no longer names its default request as the install expects")
endif()
string(REPLACE "${in_tree_request}" "default_request=${datadir}/quaywatch/request.xml" logger
       "${logger}")
file(READ "${quaywatch_source_dir}/examples/systemd/quaywatch-log@.service.in" service)
string(REPLACE "@CMAKE_INSTALL_FULL_BINDIR@" "${bindir}" service "${service}")

set(staging "${CMAKE_CURRENT_BINARY_DIR}/installed")
file(WRITE "${staging}/quaywatch-log" "${logger}")
file(WRITE "${staging}/quaywatch-log@.service" "${service}")
file(INSTALL "${staging}/quaywatch-log" DESTINATION "${bindir}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                      WORLD_EXECUTE)
file(INSTALL "${staging}/quaywatch-log@.service"
             "${quaywatch_source_dir}/examples/systemd/quaywatch-log@.timer"
     DESTINATION "${unitdir}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
