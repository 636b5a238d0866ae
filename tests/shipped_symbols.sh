#!/bin/sh
# shipped_symbols.sh PROGRAM...: fails when a program defines a function of the test-image
# generator (tools/imagegen), which belongs to tests and tools only.
status=0
for program in "$@"; do
  if ! symbols=$(nm -C --defined-only "$program"); then
    echo "cannot list the symbols of $program (is nm installed?)" >&2
    exit 2
  fi
  found=$(printf '%s\n' "$symbols" | grep -E 'ostrel::(GenerateTestImage|ResolveTestImage|GenerateTestProgram|WriteTestImage|TestImageChecksum)\(' | head -3)
  if [ -n "$found" ]; then
    echo "$program links the test-image generator:" >&2
    printf '%s\n' "$found" >&2
    status=1
  fi
done
exit $status
