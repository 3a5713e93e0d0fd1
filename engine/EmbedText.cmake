# Turns a text file into a C++ raw string literal (INPUT -> OUTPUT), so that a Python file of
# the source tree is compiled into the library as it stands.
file(READ "${INPUT}" text)
set(delimiter "COILHATCH_PY")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter")
endif()
file(WRITE "${OUTPUT}.tmp" "R\"${delimiter}(${text})${delimiter}\"\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
