# cmake -DIN=FILE -DOUT=FILE [-DGROFF=groff] -P text.cmake: writes IN to OUT as a text file
# for Windows: UTF-8 with a byte-order mark, so that Notepad and type show
# every letter whatever the code page, and CRLF line ends. A manual page (IN
# ending in .1) is first rendered to plain text, without overstrikes or
# escape sequences, in its Windows form (register W set to 1).
if(IN MATCHES "\\.1$")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${GROFF} -k -man -Tutf8 -P-cbou -rW1 "${IN}"
    OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ "${IN}" text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
