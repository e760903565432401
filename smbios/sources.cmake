set(SMBIOS_SOURCES
  smbios/entry_point.cpp
  smbios/structure_table.cpp
  smbios/structure_walk.cpp
)
