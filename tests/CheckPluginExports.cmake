# Fails unless the Windows plug-in DLL exports exactly OrvoPluginGetHeader, as the toolchain's
# objdump reads its export table. Run with -DOBJDUMP=... -DMODULE=...
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${MODULE}")
endif()
# The names follow the "[Ordinal/Name Pointer] Table" line, one a line, up to a blank line.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${MODULE} exports nothing")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCH "Table\n([^\n]+\n)*" names "${table}")
string(REGEX MATCHALL "\\] [^\n]+" exported "${names}")
list(TRANSFORM exported REPLACE "^\\] " "")
if(NOT exported STREQUAL "OrvoPluginGetHeader")
  message(FATAL_ERROR "${MODULE} exports: ${exported}")
endif()
message(STATUS "${MODULE} exports only OrvoPluginGetHeader")
