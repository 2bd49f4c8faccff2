# cmake -DIN=FILE -DOUT=FILE [-DGROFF=groff] -P text.cmake: writes IN to OUT as a text file
# for Windows, with CRLF line ends; a manual page (IN ending in .1) is first
# rendered to plain UTF-8 text, without overstrikes or escape sequences.
if(IN MATCHES "\\.1$")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${GROFF} -k -man -Tutf8 -P-cbou "${IN}"
    OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ "${IN}" text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
