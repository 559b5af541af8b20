# Puts the movie together: every "/*@@FILE@@*/" of index.html is replaced by that file of
# movie/, giving the one self-contained document that is packed as "main12.swf".
#   cmake -DMOVIE_DIR=<movie folder> -DOUTPUT=<document> -P assemble.cmake
file(READ ${MOVIE_DIR}/index.html page)
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
