# Writes OUT with the commit the build comes from (or "onbekend" outside a
# git checkout), touching it only when that changes: run at every build.
execute_process(COMMAND git -C ${SOURCE_DIR} describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE id OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE failed)
if(failed OR id STREQUAL "")
  set(id "onbekend")
endif()
set(content "// Generated at build time.\n#include \"program/BuildId.h\"\nQString velmarin::buildId() { return QStringLiteral(\"${id}\"); }\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT old STREQUAL content)
  file(WRITE ${OUT} "${content}")
endif()
