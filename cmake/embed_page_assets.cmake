# Writes OUT, a C++ file that holds the page's skeleton (HTML), style sheet
# (CSS) and script as string constants, each a raw string literal. JS lists
# the script's parts in the order they run: each file holds a part of one
# function's body, and the script is that function, written here once
# around them all and called at once, so the parts share their names and
# put none on the page's window. Run at build time: an edit to any file
# makes the next build take it.
set(delimiter "page_asset")

function(read_whole path out)
  file(READ "${path}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${path} holds )${delimiter}\", which would end its string early.")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

read_whole("${HTML}" PAGE_SKELETON)
read_whole("${CSS}" PAGE_STYLE)
set(PAGE_SCRIPT "\"use strict\";\n(function () {\n")
foreach(part IN LISTS JS)
  read_whole("${part}" text)
  # A part without a line end at its end would run its last line into the
  # next part's first, and a comment there would swallow it.
  if(NOT text MATCHES "\n$")
    string(APPEND text "\n")
  endif()
  string(APPEND PAGE_SCRIPT "${text}")
endforeach()
string(APPEND PAGE_SCRIPT "})();\n")

string(REPLACE ";" ", " parts "${JS}")
file(WRITE "${OUT}.tmp" "// Made by the build from ${HTML}, ${CSS} and ${parts}: edit those.\n"
     "#include \"fleet/report_page_assets.h\"\n\nnamespace fleet {\n\n")
foreach(name PAGE_SKELETON PAGE_STYLE PAGE_SCRIPT)
  file(APPEND "${OUT}.tmp" "const char ${name}[] = R\"${delimiter}(${${name}})${delimiter}\";\n\n")
endforeach()
file(APPEND "${OUT}.tmp" "}  // namespace fleet\n")
file(RENAME "${OUT}.tmp" "${OUT}")
