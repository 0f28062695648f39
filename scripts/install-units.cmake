# Installs the logger's systemd units with the path of the prefix the install runs for in the
# service's command. Run by `cmake --install`, which sets CMAKE_INSTALL_PREFIX (and DESTDIR, for
# a package's staging folder).
foreach(relative IN ITEMS bindir unitdir)
  if(IS_ABSOLUTE "${quaywatch_${relative}}")
    set(${relative} "${quaywatch_${relative}}")
  else()
    set(${relative} "${CMAKE_INSTALL_PREFIX}/${quaywatch_${relative}}")
  endif()
endforeach()

file(READ "${quaywatch_source_dir}/examples/systemd/quaywatch-log@.service.in" service)
string(REPLACE "@CMAKE_INSTALL_FULL_BINDIR@" "${bindir}" service "${service}")
# Staged in the build tree: an install writes nothing outside it and the prefix, wherever it
# is run from.
set(staging "${quaywatch_binary_dir}/installed")
file(WRITE "${staging}/quaywatch-log@.service" "${service}")
file(INSTALL "${staging}/quaywatch-log@.service"
             "${quaywatch_source_dir}/examples/systemd/quaywatch-log@.timer"
     DESTINATION "${unitdir}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
