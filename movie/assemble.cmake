# Puts the movie together: every "/*@@FILE@@*/" of index.html is replaced by that file of
# movie/, and "%LUMORA_VERSION%" by the program's version (the movie is packed into the
# program it describes), giving the one self-contained document packed as "main12.swf".
#   cmake -DMOVIE_DIR=<movie folder> -DVERSION=<version> -DOUTPUT=<document> -P assemble.cmake
if(NOT VERSION MATCHES "^[0-9][0-9.]*$")
  message(FATAL_ERROR "movie: VERSION is missing or not a version: '${VERSION}'")
endif()
file(READ ${MOVIE_DIR}/index.html page)
string(REPLACE "%LUMORA_VERSION%" "${VERSION}" page "${page}")
string(REGEX MATCHALL "/\\*@@[^@]+@@\\*/" markers "${page}")
foreach(marker IN LISTS markers)
  string(REGEX REPLACE "^/\\*@@([^@]+)@@\\*/$" "\\1" name "${marker}")
  if(NOT EXISTS ${MOVIE_DIR}/${name})
    message(FATAL_ERROR "movie: ${name} is missing")
  endif()
  file(READ ${MOVIE_DIR}/${name} part)
  string(FIND "${part}" "</script" closing)
  if(NOT closing EQUAL -1)
    message(FATAL_ERROR "movie: ${name} holds a closing script tag")
  endif()
  string(REPLACE "${marker}" "${part}" page "${page}")
endforeach()
file(WRITE ${OUTPUT}.tmp "${page}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
