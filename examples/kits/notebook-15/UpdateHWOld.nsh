# Old-BIOS path of an example kit: the installed BIOS is older than G1ET46WW (1.21 ).
# A real kit flashes the BIOS here.
echo "UpdateHWOld.nsh (notebook-15): a real kit would now flash BIOS G1ET46WW (1.21 )."
