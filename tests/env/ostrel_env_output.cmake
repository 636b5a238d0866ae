# Runs the ostrel program's env command and checks its output.
# Usage: cmake -DOSTREL=<program> -DWORK=<scratch folder> -P ostrel_env_output.cmake

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/home")
set(ENV{HOME} "${WORK}/home")
unset(ENV{XDG_CONFIG_HOME})
unset(ENV{XDG_DATA_HOME})
unset(ENV{APPDATA})
unset(ENV{ostrel_PARAMETER})
set(ENV{OSTREL_REGISTRY} "${WORK}/no-registry.ini")

function(run_ostrel)
  execute_process(COMMAND "${OSTREL}" ${ARGN}
                  WORKING_DIRECTORY "${WORK}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
  set(status "${status}" PARENT_SCOPE)
endfunction()

function(expect_line text)
  string(FIND "${out}" "\n${text}\n" at)
  if(at EQUAL -1)
    string(FIND "${out}" "${text}\n" at)
    if(NOT at EQUAL 0)
      message(FATAL_ERROR "missing line '${text}' in:\n${out}")
    endif()
  endif()
endfunction()

get_filename_component(program_dir "${OSTREL}" DIRECTORY)

run_ostrel(IF=${WORK}/x.INI /SWITCH=1 env)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ostrel env failed (${status}): ${err}")
endif()
string(REGEX MATCHALL "[A-Z_]+=" ids "${out}")
string(REPLACE ";" "" ids "${ids}")
if(NOT ids STREQUAL "PN=FV=IN=IF=UD=PD=CD=OS=OS_MJV=PL=")
  message(FATAL_ERROR "unexpected IDs or order: ${ids}\n${out}")
endif()
expect_line("PN=Ostrel Maintenance")
expect_line("IN=ostrel")
expect_line("IF=${WORK}/x.INI")
expect_line("UD=${WORK}/home/.local/share/ostrel/")
expect_line("PD=${program_dir}")
expect_line("CD=${WORK}")
expect_line("PL=IF")

run_ostrel(env)
expect_line("IF=${WORK}/home/.config/ostrel/ostrel.INI")
expect_line("PL=")

run_ostrel(NOPE=1 env)
if(NOT status EQUAL 1 OR NOT err STREQUAL "ostrel: BASE_00.TAppEnv.PSetValue: NOPE not registered! (the start parameter NOPE=1 on the command line: correct the name; `ostrel env` lists the names)\n")
  message(FATAL_ERROR "unregistered parameter: status ${status}, stderr '${err}'")
endif()

run_ostrel(--help)
if(NOT status EQUAL 0 OR NOT out MATCHES "\n  env +Print the application environment")
  message(FATAL_ERROR "--help does not list the env command (${status}):\n${out}")
endif()

# A line break inside a start value stays inside its line: no forged ID lines.
run_ostrel("UD=/x\nPN=forged" "OS=a\rb" env)
expect_line("UD=/x<0A>PN=forged/")
expect_line("OS=a<0D>b")
string(FIND "${out}" "\nPN=forged" forged)
if(NOT forged EQUAL -1)
  message(FATAL_ERROR "a start value forged a line:\n${out}")
endif()
