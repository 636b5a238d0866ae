# Stages `cmake --install` of the build tree below a scratch folder and checks what lands
# where: both programs in bin (and the installed program runs), the udev rule where udev
# reads local rules. Usage: cmake -DBUILD=<build tree> -DWORK=<scratch folder> -P install_layout.cmake

file(REMOVE_RECURSE "${WORK}")
set(ENV{DESTDIR} "${WORK}/stage")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix /usr/local
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}\n${err}")
endif()
foreach(program ostrel ostrel-sim)
  set(path "${WORK}/stage/usr/local/bin/${program}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${program} is not installed:\n${out}")
  endif()
endforeach()
set(rule "${WORK}/stage/etc/udev/rules.d/60-ostrel.rules")
if(NOT EXISTS "${rule}")
  message(FATAL_ERROR "the udev rule is not installed:\n${out}")
endif()
file(READ "${rule}" text)
if(NOT text MATCHES "ATTR\\{idVendor\\}==\"07cf\", ATTR\\{idProduct\\}==\"6101\"")
  message(FATAL_ERROR "the installed rule does not name the calculator:\n${text}")
endif()
execute_process(COMMAND "${WORK}/stage/usr/local/bin/ostrel" --help
                OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT help MATCHES "backup-flash")
  message(FATAL_ERROR "the installed ostrel does not run (${status}):\n${help}")
endif()
file(REMOVE_RECURSE "${WORK}")
