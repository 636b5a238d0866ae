# Checks the calculator program image and the code behind it (run by CTest):
#   IMAGE  the raw image, ELF the linked program, OBJDUMP the cross objdump.
#   - exactly 10240 bytes; header words at offsets 36 and 40 (load and start address)
#     both 0x88024000, big-endian;
#   - big-endian SuperH code at the entry: disassembled as big-endian, the first
#     instruction branches over the header into the image;
#   - every address the code loads from its literal pools lies in RAM (0x88000000 to
#     0x88080000), in the flash (0xA0000000 to 0xA4000000), in the on-chip register area
#     (0xA4000000 to 0xA5000000) or in the control register area (0xFF000000 up); a
#     constant just below such an area counts as its bound;
#   - no conditional branch takes the T bit without an instruction before it in its
#     block that sets T (GCC 12's SH T-bit pass drops such tests at -O1 and above).
# CODE may name a second program (the engine built for qemu) for the T-bit check alone.

function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

file(SIZE "${IMAGE}" size)
if(NOT size EQUAL 10240)
  fail("image is ${size} bytes, not 10240")
endif()
file(READ "${IMAGE}" load_word OFFSET 36 LIMIT 4 HEX)
file(READ "${IMAGE}" start_word OFFSET 40 LIMIT 4 HEX)
if(NOT load_word STREQUAL "88024000" OR NOT start_word STREQUAL "88024000")
  fail("header: load address ${load_word}, start address ${start_word}, both must be 88024000")
endif()

execute_process(
  COMMAND "${OBJDUMP}" -b binary -m sh4 -EB -D --adjust-vma=0x88024000
          --start-address=0x88024000 --stop-address=0x88024004 "${IMAGE}"
  OUTPUT_VARIABLE entry RESULT_VARIABLE failed)
if(failed OR NOT entry MATCHES "88024000:[ \t]+a0 [0-9a-f][0-9a-f][ \t]+bra[ \t]+0x(8802[0-9a-f]+)")
  fail("no big-endian branch at the entry point:\n${entry}")
endif()
if(CMAKE_MATCH_1 STRLESS "88024030")
  fail("the entry branch lands inside the header: ${CMAKE_MATCH_1}")
endif()

# Area check of one 8-digit hex value.
function(address_allowed value out)
  math(EXPR v "0x${value}" OUTPUT_FORMAT HEXADECIMAL)
  set(ok FALSE)
  foreach(range "88000000:88080000" "a0000000:a4000000" "a4000000:a5000000" "ff000000:ffffffff")
    string(REPLACE ":" ";" bounds "${range}")
    list(GET bounds 0 low)
    list(GET bounds 1 high)
    math(EXPR below "0x${low} - 1" OUTPUT_FORMAT HEXADECIMAL)
    string(TOLOWER "${below}" below)
    string(REGEX REPLACE "^0x" "" below "${below}")
    if((NOT value STRLESS low AND NOT value STRGREATER high) OR value STREQUAL below)
      set(ok TRUE)
    endif()
  endforeach()
  set(${out} ${ok} PARENT_SCOPE)
endfunction()

function(check_code program check_addresses)
  execute_process(COMMAND "${OBJDUMP}" -d "${program}" OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    fail("cannot disassemble ${program}")
  endif()
  string(REPLACE ";" "," listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  # Direct branch targets start blocks whose T bit may come from elsewhere.
  set(targets "|")
  foreach(line ${lines})
    if(line MATCHES "^ *[0-9a-f]+:\t[0-9a-f][0-9a-f] [0-9a-f][0-9a-f] +\t(bt|bf|bt\\.s|bf\\.s|bra|bsr)\t([0-9a-f]+)")
      string(APPEND targets "${CMAKE_MATCH_2}|")
    endif()
  endforeach()
  set(problems "")
  set(known FALSE)
  set(function "")
  foreach(line ${lines})
    if(line MATCHES "^[0-9a-f]+ <(.*)>:$")
      set(function "${CMAKE_MATCH_1}")
      set(known FALSE)
      continue()
    endif()
    if(NOT line MATCHES "^ *([0-9a-f]+):\t[0-9a-f][0-9a-f] [0-9a-f][0-9a-f] +\t([a-z0-9/.]+)(\t(.*))?$")
      continue()
    endif()
    set(address "${CMAKE_MATCH_1}")
    set(op "${CMAKE_MATCH_2}")
    set(operands "${CMAKE_MATCH_4}")
    string(FIND "${targets}" "|${address}|" at)
    if(NOT at EQUAL -1)
      set(known UNKNOWN)
    endif()
    if(op MATCHES "^(bt|bf|bt\\.s|bf\\.s)$")
      if(known STREQUAL "FALSE")
        string(APPEND problems "  ${function}: ${address} ${op} without a test before it\n")
      endif()
      set(known FALSE)
    elseif(op MATCHES "^(cmp/.*|tst|tst\\.b|dt|shll|shlr|shal|shar|rotl|rotr|rotcl|rotcr|sett|clrt|addc|subc|addv|subv|negc|div0s|div0u|div1|tas\\.b)$"
           OR (op MATCHES "^ldc" AND operands MATCHES "sr$"))
      set(known TRUE)
    elseif(op MATCHES "^(rts|rte|jmp|jsr|bra|braf|bsr|bsrf)$")
      set(known FALSE)
    endif()
    if(check_addresses AND op STREQUAL "mov.l" AND operands MATCHES "! ([0-9a-f]+)")
      set(value "${CMAKE_MATCH_1}")
      string(LENGTH "${value}" digits)
      if(digits EQUAL 8 AND value MATCHES "^[89a-f]")
        address_allowed(${value} ok)
        if(NOT ok)
          string(APPEND problems "  ${function}: ${address} refers to ${value}, outside RAM and the register areas\n")
        endif()
      endif()
    endif()
  endforeach()
  if(problems)
    fail("${program}:\n${problems}")
  endif()
endfunction()

check_code("${ELF}" TRUE)
if(CODE)
  check_code("${CODE}" FALSE)
endif()
message(STATUS "image and code checks passed")
