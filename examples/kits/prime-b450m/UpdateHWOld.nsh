# Old-BIOS path of an example kit: the installed BIOS is older than 1.27.
# A real kit flashes the BIOS here.
echo "UpdateHWOld.nsh (prime-b450m): a real kit would now flash BIOS 1.27."
