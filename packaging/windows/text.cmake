# cmake -DIN=FILE -DOUT=FILE [-DGROFF=groff] [-DPREFACE=FILE] -P text.cmake: writes IN to OUT
# as a text file for Windows: UTF-8 with a byte-order mark, so that Notepad
# and type show every letter whatever the code page, and CRLF line ends. A
# manual page (IN ending in .1) is first rendered to plain text, without
# overstrikes or escape sequences, in its Windows form (register W set to
# 1). PREFACE, where it exists, goes first. A licence named by its place on
# a Debian system is named by the file of the zip that holds it.
if(IN MATCHES "\\.1$")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${GROFF} -k -man -Tutf8 -P-cbou -rW1 "${IN}"
    OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ "${IN}" text)
endif()
if(EXISTS "${PREFACE}")
  file(READ "${PREFACE}" preface)
  set(text "${preface}${text}")
endif()
string(REGEX REPLACE "/usr/share/common-licenses/([A-Za-z0-9.+-]*[A-Za-z0-9])" "LICENSE-\\1.txt"
  text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
