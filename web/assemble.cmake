cmake_minimum_required(VERSION 3.25)
# Puts the style sheet, the page's words and script and the worker's script (which holds
# the WebAssembly) into the page template: one file that needs nothing else.
file(READ ${WEB_DIR}/index.html page)
file(READ ${WEB_DIR}/page.css style)
file(READ ${WEB_DIR}/page.js script)
file(READ ${WEB_DIR}/words.js words)
file(READ ${WORKER} worker)
# The worker's text sits inside a script element; a closing tag in it would end that early.
string(FIND "${worker}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the worker's script contains </script")
endif()
string(REPLACE "/*INLINE:STYLE*/" "${style}" page "${page}")
string(REPLACE "/*INLINE:WORDS*/" "${words}" page "${page}")
string(REPLACE "/*INLINE:SCRIPT*/" "${script}" page "${page}")
string(REPLACE "/*INLINE:WORKER*/" "${worker}" page "${page}")
file(WRITE ${OUTPUT} "${page}")
