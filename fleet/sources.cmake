# The fleet report (host only): rows, the facts behind them, the report's
# forms and the worker processes.
set(FLEET_SOURCES
  fleet/machine_facts.cpp
  fleet/fleet_row.cpp
  fleet/rollout_records.cpp
  fleet/report_format.cpp
  fleet/report_page.cpp
  fleet/report_page_style.cpp
  fleet/report_page_table.cpp
  fleet/report_page_summary.cpp
  fleet/row_workers.cpp
  fleet/report_output.cpp
  fleet/fleet_report.cpp
)
