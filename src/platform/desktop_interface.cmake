# Writes OUTPUT, a header that names the desktop module's interface by the SHA-256 of
# the headers and sources directly in SOURCE_ROOT's base/, os/ and platform/ (the layers
# the program and the module share, in name order). The program and its desktop module
# each carry the digest they were built with.
file(GLOB SOURCES
  ${SOURCE_ROOT}/base/*.h ${SOURCE_ROOT}/base/*.cpp
  ${SOURCE_ROOT}/os/*.h ${SOURCE_ROOT}/os/*.cpp
  ${SOURCE_ROOT}/platform/*.h ${SOURCE_ROOT}/platform/*.cpp)
list(SORT SOURCES)
set(digests "")
foreach(source IN LISTS SOURCES)
  file(RELATIVE_PATH name ${SOURCE_ROOT} ${source})
  file(SHA256 ${source} digest)
  string(APPEND digests "${name} ${digest}\n")
endforeach()
string(SHA256 interface "${digests}")
set(text "// Generated from the layers the program and the module share; do not edit.
#ifndef LUMORA_PLATFORM_DESKTOP_INTERFACE_H_
#define LUMORA_PLATFORM_DESKTOP_INTERFACE_H_
#define LUMORA_DESKTOP_INTERFACE \"${interface}\"
#endif  // LUMORA_PLATFORM_DESKTOP_INTERFACE_H_
")
# Rewritten only when it changes, so that an unchanged digest rebuilds nothing.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
