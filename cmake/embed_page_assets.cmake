# Writes OUT, a C++ file that holds the page's skeleton (HTML), style sheet
# (CSS) and script (JS) as string constants, each file whole as a raw
# string literal. Run at build time: an edit to any of them makes the next
# build take it.
set(delimiter "page_asset")
file(WRITE "${OUT}.tmp" "// Made by the build from ${HTML}, ${CSS} and ${JS}: edit those.\n"
     "#include \"fleet/report_page_assets.h\"\n\nnamespace fleet {\n\n")
foreach(pair "PAGE_SKELETON;${HTML}" "PAGE_STYLE;${CSS}" "PAGE_SCRIPT;${JS}")
  list(GET pair 0 name)
  list(GET pair 1 path)
  file(READ "${path}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${path} holds )${delimiter}\", which would end its string early.")
  endif()
  file(APPEND "${OUT}.tmp" "const char ${name}[] = R\"${delimiter}(${text})${delimiter}\";\n\n")
endforeach()
file(APPEND "${OUT}.tmp" "}  // namespace fleet\n")
file(RENAME "${OUT}.tmp" "${OUT}")
