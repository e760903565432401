# New-BIOS path of an example kit: the installed BIOS is G1ET46WW (1.21 ) or newer.
echo "UpdateHWNew.nsh (notebook-15): the BIOS is up to date; nothing to flash."
