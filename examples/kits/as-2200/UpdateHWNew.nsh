# New-BIOS path of an example kit: the installed BIOS is 2.17.1 or newer.
echo "UpdateHWNew.nsh (as-2200): the BIOS is up to date; nothing to flash."
