# Old-BIOS path of an example kit: the installed BIOS is older than 2.17.1.
# A real kit flashes the BIOS here.
echo "UpdateHWOld.nsh (as-2200): a real kit would now flash BIOS 2.17.1."
