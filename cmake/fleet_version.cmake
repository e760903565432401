# Writes OUT, a C++ file that names the fleet report's version: the
# repository's commit as `git describe --always --dirty` gives it
# ("unknown" outside a git checkout). Run at every build; OUT is rewritten
# only when the version changed, so an unchanged one costs no compile.
execute_process(COMMAND git describe --always --dirty --tags
                WORKING_DIRECTORY "${SOURCE_DIR}"
                OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR version STREQUAL "")
  set(version "unknown")
endif()
string(CONCAT text "// Made by the build (cmake/fleet_version.cmake): the commit it was built from.\n"
         "#include \"fleet/fleet_report.h\"\n\nnamespace fleet {\n\n"
         "const char FLEET_VERSION[] = \"${version}\";\n\n}  // namespace fleet\n")
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
