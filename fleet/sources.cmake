# The fleet report (host only): rows, the facts behind them, the report's
# forms and the worker processes.
set(FLEET_SOURCES
  fleet/shown_text.cpp
  fleet/machine_facts.cpp
  fleet/fleet_row.cpp
  fleet/row_text.cpp
  fleet/row_warnings.cpp
  fleet/row_codec.cpp
  fleet/run_record.cpp
  fleet/rollout_records.cpp
  fleet/report_table.cpp
  fleet/report_csv.cpp
  fleet/report_json.cpp
  fleet/report_page.cpp
  fleet/report_writer.cpp
  fleet/report_kits.cpp
  fleet/row_workers.cpp
  fleet/report_output.cpp
  fleet/library_query.cpp
  fleet/dump_query.cpp
  fleet/fleet_report.cpp
)

# The page's skeleton, style sheet and script are files of their own; the
# build embeds them, whole, in a source file of its own making. The script
# is in parts, listed in the order they run: the embedding joins them into
# the body of the one function that is the page's script.
set(FLEET_PAGE_SCRIPT_PARTS
  ${CMAKE_CURRENT_LIST_DIR}/report_page_model.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_draw.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_table.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_details.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_summary.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_products.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_warnings.js
  ${CMAKE_CURRENT_LIST_DIR}/report_page_start.js
)
set(FLEET_PAGE_ASSETS ${CMAKE_BINARY_DIR}/fleet/report_page_assets.cpp)
add_custom_command(
  OUTPUT ${FLEET_PAGE_ASSETS}
  COMMAND ${CMAKE_COMMAND} -D HTML=${CMAKE_CURRENT_LIST_DIR}/report_page.html
          -D CSS=${CMAKE_CURRENT_LIST_DIR}/report_page.css
          "-DJS=${FLEET_PAGE_SCRIPT_PARTS}" -D OUT=${FLEET_PAGE_ASSETS}
          -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/embed_page_assets.cmake
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/report_page.html ${CMAKE_CURRENT_LIST_DIR}/report_page.css
          ${FLEET_PAGE_SCRIPT_PARTS}
          ${CMAKE_CURRENT_LIST_DIR}/../cmake/embed_page_assets.cmake
  VERBATIM
  COMMENT "Embedding the fleet page's skeleton, style sheet and script")
# The version the report names (--version, the page's header): the commit
# it was built from, looked up at every build.
set(FLEET_VERSION_SOURCE ${CMAKE_BINARY_DIR}/fleet/fleet_version.cpp)
add_custom_target(fleet_version
  BYPRODUCTS ${FLEET_VERSION_SOURCE}
  COMMAND ${CMAKE_COMMAND} -D SOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/.. -D OUT=${FLEET_VERSION_SOURCE}
          -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/fleet_version.cmake
  COMMENT "Naming the fleet report's version")
set(FLEET_GENERATED_SOURCES ${FLEET_PAGE_ASSETS} ${FLEET_VERSION_SOURCE})
